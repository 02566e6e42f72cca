#include "platform/net/http_client.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace kiv::net {
namespace {

struct CurlDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct ListDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

bool GlobalInit() {
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] { ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ok;
}

struct Transfer {
    HttpResponse* response;
    std::size_t limit;
    const std::atomic<bool>* cancel;
    bool tooLarge = false;
};

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const std::size_t bytes = size * count;
    if (bytes > t->limit - std::min(t->limit, t->response->body.size())) {
        t->tooLarge = true;
        return 0;  // makes libcurl stop with CURLE_WRITE_ERROR
    }
    t->response->body.append(data, bytes);
    return bytes;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* t = static_cast<Transfer*>(user);
    return t->cancel && t->cancel->load() ? 1 : 0;
}

HttpFailure Classify(CURLcode code, const Transfer& t) {
    switch (code) {
        case CURLE_OK: return HttpFailure::None;
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_URL_MALFORMAT: return HttpFailure::BadUrl;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY: return HttpFailure::HostNotFound;
        case CURLE_COULDNT_CONNECT: return HttpFailure::ConnectFailed;
        case CURLE_OPERATION_TIMEDOUT: return HttpFailure::TimedOut;
        case CURLE_SEND_ERROR: return HttpFailure::SendFailed;
        case CURLE_WRITE_ERROR: return t.tooLarge ? HttpFailure::TooLarge : HttpFailure::ReceiveFailed;
        case CURLE_ABORTED_BY_CALLBACK: return HttpFailure::Cancelled;
        case CURLE_OUT_OF_MEMORY:
        case CURLE_FAILED_INIT: return HttpFailure::Internal;
        default: return HttpFailure::ReceiveFailed;
    }
}

}  // namespace

HttpResponse HttpGet(const HttpRequest& request) {
    HttpResponse response;
    if (!GlobalInit()) return response;
    std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl) return response;
    CURL* c = curl.get();

    Transfer transfer{&response, request.maxBodyBytes, request.cancel};
    char error[CURL_ERROR_SIZE] = {};
    std::unique_ptr<curl_slist, ListDeleter> headers;
    for (const std::string& line : request.headers) {
        curl_slist* grown = curl_slist_append(headers.get(), line.c_str());
        if (!grown) return response;
        headers.release();
        headers.reset(grown);
    }

    curl_easy_setopt(c, CURLOPT_URL, request.url.c_str());
    // Only the web: a redirect to file:// or anything else is refused.
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, request.maxRedirects > 0 ? 1L : 0L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, request.maxRedirects);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);  // worker threads; no SIGALRM
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.connectTimeout.count()));
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(request.totalTimeout.count()));
    if (request.stallTimeout.count() > 0) {
        curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, static_cast<long>((request.stallTimeout.count() + 999) / 1000));
    }
    if (request.http10) curl_easy_setopt(c, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
    curl_easy_setopt(c, CURLOPT_USERAGENT, request.userAgent.c_str());
    curl_easy_setopt(c, CURLOPT_ACCEPT_ENCODING, "");  // whatever libcurl can decode
    if (headers) curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
    if (request.proxy) curl_easy_setopt(c, CURLOPT_PROXY, request.proxy->c_str());
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);

    const CURLcode code = curl_easy_perform(c);
    response.failure = Classify(code, transfer);
    response.libcurlCode = static_cast<int>(code);
    // A connection that never came within the connect time-out says so.
    if (code == CURLE_OPERATION_TIMEDOUT) {
        curl_off_t connected = 0;
        curl_easy_getinfo(c, CURLINFO_CONNECT_TIME_T, &connected);
        if (connected == 0) response.failure = HttpFailure::ConnectTimeout;
    }
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &response.status);
    // libcurl says "unsupported protocol" also for a server that answers
    // with no HTTP status line at all; that is a broken answer, not a bad
    // address.
    if (code == CURLE_UNSUPPORTED_PROTOCOL && response.status == 0) {
        curl_off_t connected = 0;
        curl_easy_getinfo(c, CURLINFO_CONNECT_TIME_T, &connected);
        if (connected > 0) response.failure = HttpFailure::ReceiveFailed;
    }
    char* type = nullptr;
    if (curl_easy_getinfo(c, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type) response.contentType = type;
    char* url = nullptr;
    if (curl_easy_getinfo(c, CURLINFO_EFFECTIVE_URL, &url) == CURLE_OK && url) response.effectiveUrl = url;
    response.detail = error[0] ? error : (code == CURLE_OK ? "" : curl_easy_strerror(code));
    if (response.failure != HttpFailure::None) response.body.clear();
    return response;
}

const char* FailureText(HttpFailure failure) {
    switch (failure) {
        case HttpFailure::None: return "no error";
        case HttpFailure::BadUrl: return "the address is not a web address";
        case HttpFailure::HostNotFound: return "server not found";
        case HttpFailure::ConnectFailed: return "cannot connect to the server";
        case HttpFailure::ConnectTimeout: return "cannot connect, timed out";
        case HttpFailure::TimedOut: return "the server did not answer in time";
        case HttpFailure::SendFailed: return "cannot send the request";
        case HttpFailure::ReceiveFailed: return "the answer broke off or is not HTTP";
        case HttpFailure::TooLarge: return "the answer is too large";
        case HttpFailure::Cancelled: return "cancelled";
        case HttpFailure::Internal: return "internal error";
    }
    return "internal error";
}

std::string UrlEscape(std::string_view text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char ch : text) {
        const bool unreserved = (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') ||
                                ch == '-' || ch == '.' || ch == '_' || ch == '~';
        if (unreserved) {
            out += static_cast<char>(ch);
        } else {
            out += '%';
            out += hex[ch >> 4];
            out += hex[ch & 15];
        }
    }
    return out;
}

}  // namespace kiv::net
