// One HTTP(S) GET over libcurl, for the network services (disc databases,
// cover pictures): proxies, redirects, time-outs, a cap on the answer's
// size and a cancel flag, with failures sorted so that each caller can say
// them in its own words.
//
//   kiv::net::HttpRequest request;
//   request.url = "http://127.0.0.1:8080/ws/2/discid/abc?fmt=json";
//   kiv::net::HttpResponse r = kiv::net::HttpGet(request);
//   if (r.failure == kiv::net::HttpFailure::None && r.status == 200) Use(r.body);
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace kiv::net {

enum class HttpFailure {
    None,            // an answer came (whatever its status)
    BadUrl,          // not an http:// or https:// address libcurl takes
    HostNotFound,    // the server's (or proxy's) name does not resolve
    ConnectFailed,   // refused or unreachable
    ConnectTimeout,  // no connection within connectTimeout
    TimedOut,        // the whole exchange took longer than totalTimeout
    SendFailed,      // the request could not be sent
    ReceiveFailed,   // the connection broke, or the answer is not HTTP
    TooLarge,        // the answer is larger than maxBodyBytes
    Cancelled,       // the cancel flag was raised
    Internal,        // libcurl could not be set up
};

struct HttpRequest {
    std::string url;
    // Extra header lines, "Name: value".
    std::vector<std::string> headers;
    std::string userAgent = "Ondalo";
    // Not set: libcurl's own reading of http_proxy, https_proxy and
    // no_proxy. Empty: a direct connection. Else "host:port" or a URL.
    std::optional<std::string> proxy;
    std::chrono::milliseconds connectTimeout{20000};
    std::chrono::milliseconds totalTimeout{60000};
    // When above zero: abandoned (TimedOut) once no byte has come for this
    // long, in whole seconds rounded up; for services whose limit is on
    // silence rather than on the whole answer. totalTimeout zero: no limit
    // on the whole.
    std::chrono::milliseconds stallTimeout{0};
    // Ask in HTTP/1.0 (for old services that speak nothing newer).
    bool http10 = false;
    // An answer larger than this is abandoned (hostile or broken server).
    std::size_t maxBodyBytes = std::size_t{16} << 20;
    // Redirects followed (http and https only).
    long maxRedirects = 5;
    // Raised by another thread to abandon the request within about a second.
    const std::atomic<bool>* cancel = nullptr;
};

struct HttpResponse {
    HttpFailure failure = HttpFailure::Internal;
    long status = 0;           // the final answer's status, 0 when none came
    std::string body;
    std::string contentType;   // as the server sent it, may be empty
    std::string effectiveUrl;  // after redirects
    std::string detail;        // libcurl's own words, for a log line
    int libcurlCode = 0;       // libcurl's result code, for callers that tell finer cases apart
};

HttpResponse HttpGet(const HttpRequest& request);

// A short English text for a failure ("server not found", ...).
const char* FailureText(HttpFailure failure);

// The URL with the characters outside RFC 3986's unreserved set escaped,
// for one query value or path segment.
std::string UrlEscape(std::string_view text);

}  // namespace kiv::net
