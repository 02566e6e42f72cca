#include "components/cdrip/cddb/cddb_client.h"

#include <curl/curl.h>

#include <chrono>
#include <utility>

#include "platform/net/http_client.h"
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

// host[:port], IPv6 addresses in brackets; the port is left out when it is
// the one the scheme implies.
std::string HostPort(std::string_view host, std::uint16_t port, std::uint16_t implied) {
    std::string out = host.find(':') != std::string_view::npos ? "[" + std::string(host) + "]" : std::string(host);
    if (port != implied) out += ":" + std::to_string(port);
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

// Longest line and answer taken from a server; a longer one is a broken or
// hostile server, not a record.
constexpr std::size_t kMaxLine = 64 * 1024;
constexpr std::size_t kMaxAnswer = 4 * 1024 * 1024;

Failure FromHttp(const net::HttpResponse& r) {
    switch (r.failure) {
        case net::HttpFailure::None: return r.status == 200 ? Failure::None : Failure::HttpStatus;
        case net::HttpFailure::HostNotFound:
        case net::HttpFailure::ConnectFailed: return Failure::ServerNotFound;
        case net::HttpFailure::ConnectTimeout: return Failure::ConnectTimeout;
        case net::HttpFailure::TimedOut: return Failure::ReceiveTimeout;
        case net::HttpFailure::SendFailed: return Failure::SendFailed;
        case net::HttpFailure::Cancelled: return Failure::Cancelled;
        case net::HttpFailure::TooLarge: return Failure::ReceiveFailed;
        case net::HttpFailure::BadUrl:
        case net::HttpFailure::Internal: return Failure::Internal;
        case net::HttpFailure::ReceiveFailed: break;
    }
    switch (r.libcurlCode) {
        // An answer whose first line is no HTTP status line.
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_WEIRD_SERVER_REPLY: return Failure::NotHttp;
        // The server closed before its answer was whole: the same as a
        // server that stopped talking.
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE: return Failure::ReceiveTimeout;
        default: return Failure::ReceiveFailed;
    }
}

// One command: the request, then the answer's lines after the HTTP head.
class Exchange {
public:
    Exchange(const Settings& s, const std::atomic<bool>* cancel) : settings_(s), cancel_(cancel) {}

    // On success the CDDB status line has been taken.
    Failure Run(std::string_view command, int& code, std::string& statusLine) {
        if (Cancelled(cancel_)) return Failure::Cancelled;
        net::HttpRequest request;
        request.url = RequestUrl(settings_, command);
        request.http10 = true;
        request.userAgent = settings_.userAgent;
        request.headers = {"Accept: text/plain"};
        // The settings read http_proxy and no_proxy themselves; libcurl
        // must not read them a second time its own way.
        request.proxy = settings_.proxy ? "http://" + HostPort(settings_.proxy->host, settings_.proxy->port, 0)
                                        : std::string();
        request.connectTimeout = settings_.connectTimeout;
        request.stallTimeout = settings_.lineTimeout;
        // Silence ends a lookup, and the answer's size is capped, so
        // nothing else needs to bound the whole.
        request.totalTimeout = std::chrono::milliseconds(0);
        request.maxBodyBytes = kMaxAnswer;
        request.maxRedirects = 0;
        request.cancel = cancel_;
        const net::HttpResponse response = net::HttpGet(request);
        if (Failure f = FromHttp(response); f != Failure::None) return f;
        body_ = response.body;
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
    // The next line without its line feed and carriage returns. An answer
    // that ends without its line feed was cut off.
    Failure Next(std::string& line) {
        const std::size_t lf = body_.find('\n', at_);
        if (lf == std::string::npos) return body_.size() - at_ > kMaxLine ? Failure::ReceiveFailed : Failure::ReceiveTimeout;
        if (lf - at_ > kMaxLine) return Failure::ReceiveFailed;
        line.clear();
        for (std::size_t i = at_; i < lf; ++i)
            if (body_[i] != '\r') line += body_[i];
        at_ = lf + 1;
        return Failure::None;
    }

    const Settings& settings_;
    const std::atomic<bool>* cancel_;
    std::string body_;
    std::size_t at_ = 0;
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

std::string RequestUrl(const Settings& settings, std::string_view command) {
    std::string_view email = settings.email;
    std::string_view user = email, mailHost;
    if (const auto at = email.find('@'); at != std::string_view::npos) {
        user = email.substr(0, at);
        mailHost = email.substr(at + 1);
    }
    if (user.empty()) user = "ondalo";
    if (mailHost.empty()) mailHost = "localhost";

    std::string url = "http://" + HostPort(settings.host, settings.port, 80) + settings.path;
    url += "?cmd=" + FormEncode(command);
    url += "&hello=" + FormEncode(user) + "+" + FormEncode(mailHost) + "+" + FormEncode(settings.clientName) + "+" +
           FormEncode(settings.clientVersion);
    url += "&proto=" + std::to_string(settings.protocolLevel);
    return url;
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
