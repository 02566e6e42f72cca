// Where and how the CDDB client talks to its server.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kiv::cddb {

struct ProxySettings {
    std::string host;
    std::uint16_t port = 80;

    friend bool operator==(const ProxySettings&, const ProxySettings&) = default;
};

struct Settings {
    std::string host = "gnudb.gnudb.org";
    std::uint16_t port = 80;
    std::string path = "/~cddb/cddb.cgi";
    // Sent in "hello" as user and host (the at-sign splits them). The server
    // operators ask for an address they can write to, hence a setting.
    std::string email = "ondalo@localhost";
    std::string clientName = "CDRipper";
    std::string clientVersion = "1.0";
    std::string userAgent = "CD Extractor Control, https://ondalo.invalid/";
    // 6 asks for UTF-8 answers; 5 gets ISO-8859-1 (non-Latin titles are
    // lost at 5). Answers are decoded according to the level asked for.
    int protocolLevel = 6;
    // Absolute URL on the request line and a connection to the proxy.
    std::optional<ProxySettings> proxy;
    // Resolving the name and connecting together.
    std::chrono::milliseconds connectTimeout{20000};
    // Longest silence of the server while it answers (201 waits of 100 ms);
    // counted in whole seconds.
    std::chrono::milliseconds lineTimeout{20100};
};

using EnvironmentReader = std::function<const char*(const char*)>;

// Defaults overridden by the environment:
//   ONDALO_CDDB_SERVER    host name (or dotted address) of the server
//   ONDALO_CDDB_PORT      its port (1-65535)
//   ONDALO_CDDB_PATH      the CGI path, starting with '/'
//   ONDALO_CDDB_EMAIL     contact address sent in "hello"
//   ONDALO_CDDB_PROTOCOL  protocol level, 5 or 6
//   http_proxy (or HTTP_PROXY)  proxy as [http://][user@]host[:port][/]
//   no_proxy (or NO_PROXY)      comma-separated hosts or domain suffixes
//                               reached directly ("*": all)
// A value that does not parse is ignored (the default stays), so a broken
// proxy variable means a direct connection, never a question to the user.
// The reader defaults to std::getenv; tests pass their own.
Settings SettingsFromEnvironment(const EnvironmentReader& getenv = {});

// Parses an http_proxy value; nullopt when it names no usable proxy.
std::optional<ProxySettings> ParseProxy(std::string_view value);

// True when no_proxy asks for a direct connection to host.
bool ProxyBypassed(std::string_view host, std::string_view noProxy);

}  // namespace kiv::cddb
