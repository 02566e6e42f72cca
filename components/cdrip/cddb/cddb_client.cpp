#include "components/cdrip/cddb/cddb_client.h"

#include <chrono>
#include <utility>

#include "components/cdrip/cddb/host_resolver.h"
#include "components/cdrip/cddb/line_connection.h"
#include "platform/system/text.h"

namespace kiv::cddb {
namespace {

bool Cancelled(const std::atomic<bool>* cancel) { return cancel != nullptr && cancel->load(); }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// Query-string encoding: spaces as '+', unreserved characters as they are,
// everything else as %XX, so that no value can add a parameter.
std::string FormEncode(std::string_view s) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        const bool unreserved = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                                c == '-' || c == '.' || c == '_' || c == '~';
        if (unreserved) {
            out += c;
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += kHex[u >> 4];
            out += kHex[u & 0x0F];
        }
    }
    return out;
}

std::string HostPort(std::string_view host, std::uint16_t port) {
    std::string out = host.find(':') != std::string_view::npos ? "[" + std::string(host) + "]" : std::string(host);
    if (port != 80) out += ":" + std::to_string(port);
    return out;
}

bool IsValidUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t extra = 0;
        char32_t min = 0;
        if (c < 0x80) { ++i; continue; }
        if ((c & 0xE0) == 0xC0) { extra = 1; min = 0x80; }
        else if ((c & 0xF0) == 0xE0) { extra = 2; min = 0x800; }
        else if ((c & 0xF8) == 0xF0) { extra = 3; min = 0x10000; }
        else return false;
        if (i + extra >= s.size()) return false;
        char32_t cp = c & (0x3F >> extra);
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += extra + 1;
    }
    return true;
}

}  // namespace

// Level 6 answers are UTF-8; level 5 answers are ISO-8859-1. A level 6
// line that is not valid UTF-8 came from an old entry and is read as
// Latin-1 rather than mangled.
std::string Decode(std::string_view line, int level) {
    if (level >= 6 && IsValidUtf8(line)) return std::string(line);
    return ToUtf8(FromLatin1(line));
}

namespace {

Failure FromIo(IoStatus s) {
    switch (s) {
        case IoStatus::Ok: return Failure::None;
        case IoStatus::Cancelled: return Failure::Cancelled;
        case IoStatus::TimedOut:
        case IoStatus::Closed: return Failure::ReceiveTimeout;
        default: return Failure::ReceiveFailed;
    }
}

}  // namespace

bool ParseMatchLine(std::string_view line, Match& match) {
    line = Trim(line);
    const auto first = line.find(' ');
    if (first == std::string_view::npos) return false;
    match.category = std::string(line.substr(0, first));
    line = Trim(line.substr(first + 1));
    const auto second = line.find(' ');
    match.discId = std::string(line.substr(0, second));
    match.description = second == std::string_view::npos ? std::string() : std::string(Trim(line.substr(second + 1)));
    return !match.category.empty() && !match.discId.empty();
}

int StatusCode(std::string_view line) {
    if (line.size() < 3) return -1;
    int code = 0;
    for (char c : line.substr(0, 3)) {
        if (c < '0' || c > '9') return -1;
        code = code * 10 + (c - '0');
    }
    return code;
}

namespace {

// One command: connect, send, check the HTTP and CDDB status lines. On
// success the connection is positioned after the CDDB status line.
class Exchange {
public:
    Exchange(const Settings& s, const std::atomic<bool>* cancel) : settings_(s), cancel_(cancel) {}

    Failure Run(std::string_view command, int& code, std::string& statusLine) {
        if (Cancelled(cancel_)) return Failure::Cancelled;
        const bool viaProxy = settings_.proxy.has_value();
        const std::string& host = viaProxy ? settings_.proxy->host : settings_.host;
        const std::uint16_t port = viaProxy ? settings_.proxy->port : settings_.port;

        const auto deadline = std::chrono::steady_clock::now() + settings_.connectTimeout;
        std::vector<SocketAddress> addresses;
        switch (ResolveHost(host, port, deadline, cancel_, addresses)) {
            case ResolveStatus::Ok: break;
            case ResolveStatus::NotFound: return Failure::ServerNotFound;
            case ResolveStatus::TimedOut: return Failure::ConnectTimeout;
            case ResolveStatus::Cancelled: return Failure::Cancelled;
            case ResolveStatus::Internal: return Failure::Internal;
        }
        switch (connection_.Connect(addresses, deadline, cancel_)) {
            case IoStatus::Ok: break;
            case IoStatus::TimedOut: return Failure::ConnectTimeout;
            case IoStatus::Cancelled: return Failure::Cancelled;
            default: return Failure::ServerNotFound;
        }
        switch (connection_.SendAll(BuildRequest(settings_, command), settings_.lineTimeout, cancel_)) {
            case IoStatus::Ok: break;
            case IoStatus::Cancelled: return Failure::Cancelled;
            default: return Failure::SendFailed;
        }

        std::string line;
        if (Failure f = Next(line); f != Failure::None) return f;
        if (line.compare(0, 4, "HTTP") != 0) return Failure::NotHttp;
        if (line.size() < 12 || line.compare(9, 3, "200") != 0) return Failure::HttpStatus;
        do {
            if (Failure f = Next(line); f != Failure::None) return f;
        } while (!line.empty());
        if (Failure f = Next(statusLine); f != Failure::None) return f;
        code = StatusCode(statusLine);
        return Failure::None;
    }

    // Lines of a list or record, up to the terminating "." line.
    Failure ReadBlock(std::vector<std::string>& lines) {
        std::string line;
        while (true) {
            if (Failure f = Next(line); f != Failure::None) return f;
            if (!line.empty() && line.front() == '.') return Failure::None;
            lines.push_back(Decode(line, settings_.protocolLevel));
        }
    }

private:
    Failure Next(std::string& line) { return FromIo(connection_.ReadLine(line, settings_.lineTimeout, cancel_)); }

    const Settings& settings_;
    const std::atomic<bool>* cancel_;
    LineConnection connection_;
};

}  // namespace

std::string_view FailureText(Failure f) {
    switch (f) {
        case Failure::None: return {};
        case Failure::Internal: return "CDDB error #3: internal error.";
        case Failure::ConnectTimeout: return "CDDB error #4: cannot connect, timed out.";
        case Failure::ServerNotFound: return "CDDB error #5: server not found.";
        case Failure::SendFailed: return "CDDB error #6: cannot send cddb request.";
        case Failure::NotHttp: return "CDDB error #7: wrong server response.";
        case Failure::HttpStatus: return "CDDB error #8: wrong server response.";
        case Failure::NoMatch: return "CDDB error #9: no records for your disk found.";
        case Failure::ServerFailure: return "CDDB error #10: CDDB request failed for unknown reason.";
        case Failure::ReceiveFailed: return "Socket error: failed to receive data.";
        case Failure::ReceiveTimeout: return "Socket error: timed out.";
        case Failure::Cancelled: return "CDDB lookup cancelled.";
    }
    return "CDDB error #3: internal error.";
}

std::string BuildRequest(const Settings& settings, std::string_view command) {
    std::string_view email = settings.email;
    std::string_view user = email, mailHost;
    if (const auto at = email.find('@'); at != std::string_view::npos) {
        user = email.substr(0, at);
        mailHost = email.substr(at + 1);
    }
    if (user.empty()) user = "ondalo";
    if (mailHost.empty()) mailHost = "localhost";

    const std::string server = HostPort(settings.host, settings.port);
    std::string request = "GET ";
    if (settings.proxy) request += "http://" + server;
    request += settings.path;
    request += "?cmd=" + FormEncode(command);
    request += "&hello=" + FormEncode(user) + "+" + FormEncode(mailHost) + "+" + FormEncode(settings.clientName) +
               "+" + FormEncode(settings.clientVersion);
    request += "&proto=" + std::to_string(settings.protocolLevel);
    request += " HTTP/1.0\r\n";
    // Virtual hosts (the public servers among them) pick the site by this.
    request += "Host: " + server + "\r\n";
    request += "User-Agent: " + settings.userAgent + "\r\n";
    request += "Accept: text/plain\r\n\r\n";
    return request;
}

CddbClient::CddbClient(Settings settings) : settings_(std::move(settings)) {}

LookupResult CddbClient::Query(const DiscToc& toc, const std::atomic<bool>* cancel) const {
    LookupResult result;
    if (!toc.IsUsable()) {
        result.failure = Failure::NoMatch;
        return result;
    }
    Exchange exchange(settings_, cancel);
    int code = 0;
    std::string status;
    result.failure = exchange.Run(QueryCommand(toc), code, status);
    if (!result.ok()) return result;

    if (code == 200) {
        Match match;
        if (!ParseMatchLine(Decode(std::string_view(status).substr(3), settings_.protocolLevel), match))
            result.failure = Failure::ServerFailure;
        else
            result.matches.push_back(std::move(match));
    } else if (code == 202) {
        result.failure = Failure::NoMatch;
    } else if (code == 210 || code == 211) {
        std::vector<std::string> lines;
        result.failure = exchange.ReadBlock(lines);
        for (const std::string& line : lines) {
            Match match;
            if (ParseMatchLine(line, match)) result.matches.push_back(std::move(match));
        }
    } else {
        result.failure = Failure::ServerFailure;
    }
    if (!result.ok()) result.matches.clear();
    return result;
}

Failure CddbClient::Read(Match& match, const std::atomic<bool>* cancel) const {
    Exchange exchange(settings_, cancel);
    int code = 0;
    std::string status;
    if (Failure f = exchange.Run("cddb read " + match.category + " " + match.discId, code, status); f != Failure::None)
        return f;
    if (code != 210) return Failure::ServerFailure;
    std::vector<std::string> lines;
    if (Failure f = exchange.ReadBlock(lines); f != Failure::None) return f;
    match.raw.clear();
    for (const std::string& line : lines) match.raw += line + "\n";
    match.record = ParseRecord(match.raw, match.category);
    return Failure::None;
}

LookupResult CddbClient::Lookup(const DiscToc& toc, const std::atomic<bool>* cancel) const {
    LookupResult result = Query(toc, cancel);
    for (Match& match : result.matches) {
        if (!result.ok()) break;
        result.failure = Read(match, cancel);
        if (result.ok()) ++result.recordsRead;
    }
    return result;
}

}  // namespace kiv::cddb
