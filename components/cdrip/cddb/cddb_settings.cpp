#include "components/cdrip/cddb/cddb_settings.h"

#include <charconv>
#include <cstdlib>

#include "platform/system/text.h"

namespace kiv::cddb {
namespace {

std::optional<std::uint16_t> ParsePort(std::string_view text) {
    unsigned value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value == 0 || value > 65535)
        return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

bool HasOnlyHostCharacters(std::string_view host) {
    if (host.empty()) return false;
    for (char c : host) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                        c == '.' || c == '-' || c == '_' || c == ':';
        if (!ok) return false;
    }
    return true;
}

}  // namespace

std::optional<ProxySettings> ParseProxy(std::string_view value) {
    value = Trim(value);
    if (const auto scheme = value.find("://"); scheme != std::string_view::npos) {
        // Only a plain HTTP proxy speaks the request we send.
        if (!EqualsNoCase(value.substr(0, scheme), std::string_view("http"))) return std::nullopt;
        value.remove_prefix(scheme + 3);
    }
    if (const auto slash = value.find('/'); slash != std::string_view::npos) value = value.substr(0, slash);
    if (const auto at = value.rfind('@'); at != std::string_view::npos) value.remove_prefix(at + 1);

    ProxySettings proxy;
    std::string_view host = value;
    std::string_view port;
    if (!value.empty() && value.front() == '[') {  // [IPv6]:port
        const auto close = value.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        host = value.substr(1, close - 1);
        const std::string_view rest = value.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') return std::nullopt;
            port = rest.substr(1);
        }
    } else if (const auto colon = value.find(':'); colon != std::string_view::npos) {
        host = value.substr(0, colon);
        port = value.substr(colon + 1);
    }
    if (!HasOnlyHostCharacters(host)) return std::nullopt;
    proxy.host = std::string(host);
    if (!port.empty()) {
        const auto p = ParsePort(port);
        if (!p) return std::nullopt;
        proxy.port = *p;
    }
    return proxy;
}

bool ProxyBypassed(std::string_view host, std::string_view noProxy) {
    while (!noProxy.empty()) {
        const auto comma = noProxy.find(',');
        std::string_view entry = Trim(noProxy.substr(0, comma));
        noProxy = comma == std::string_view::npos ? std::string_view() : noProxy.substr(comma + 1);
        if (entry == "*") return true;
        if (!entry.empty() && entry.front() == '.') entry.remove_prefix(1);
        if (entry.empty() || entry.size() > host.size()) continue;
        const std::string_view tail = host.substr(host.size() - entry.size());
        if (EqualsNoCase(tail, entry) &&
            (host.size() == entry.size() || host[host.size() - entry.size() - 1] == '.'))
            return true;
    }
    return false;
}

Settings SettingsFromEnvironment(const EnvironmentReader& getenv) {
    auto read = [&](const char* name) -> std::optional<std::string_view> {
        const char* v = getenv ? getenv(name) : std::getenv(name);
        if (v == nullptr || *v == '\0') return std::nullopt;
        return std::string_view(v);
    };

    Settings s;
    if (auto v = read("ONDALO_CDDB_SERVER"); v && HasOnlyHostCharacters(Trim(*v))) s.host = std::string(Trim(*v));
    if (auto v = read("ONDALO_CDDB_PORT"))
        if (auto p = ParsePort(Trim(*v))) s.port = *p;
    if (auto v = read("ONDALO_CDDB_PATH"); v && v->front() == '/' && v->find_first_of(" \r\n\t") == std::string_view::npos)
        s.path = std::string(*v);
    if (auto v = read("ONDALO_CDDB_EMAIL"); v && v->find_first_of("\r\n") == std::string_view::npos)
        s.email = std::string(Trim(*v));
    if (auto v = read("ONDALO_CDDB_PROTOCOL"); v && (*v == "5" || *v == "6")) s.protocolLevel = (*v)[0] - '0';

    auto proxy = read("http_proxy");
    if (!proxy) proxy = read("HTTP_PROXY");
    if (proxy) {
        auto noProxy = read("no_proxy");
        if (!noProxy) noProxy = read("NO_PROXY");
        if (!noProxy || !ProxyBypassed(s.host, *noProxy)) s.proxy = ParseProxy(*proxy);
    }
    return s;
}

}  // namespace kiv::cddb
