// CDDB lookups over HTTP: "cddb query" for the disc, then "cddb read" for
// every match.
//
// Typical use by the CD component (on its connector thread):
//
//   kiv::cddb::CddbClient client(kiv::cddb::SettingsFromEnvironment());
//   std::atomic<bool> cancel{false};
//   kiv::cddb::LookupResult r = client.Lookup(toc, &cancel);
//   // r.matches: every match of the query, in the server's order;
//   // the first r.recordsRead of them have their record text (raw, record).
//   // r.ok() or r.message() with the user-facing failure text.
//
// Lookups are independent: any number may run at once on different
// threads. Each request goes through the HTTP layer over libcurl; it gives
// up after the connect limit without a connection, or once the server has
// sent nothing for the line limit (whole seconds), and within about a
// second once *cancel becomes true.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "components/cdrip/cddb/cddb_record.h"
#include "components/cdrip/cddb/cddb_settings.h"
#include "components/cdrip/cddb/disc_toc.h"
#include "platform/com/types.h"

namespace kiv::cddb {

enum class Failure {
    None,
    Internal,          // "CDDB error #3: internal error."
    ConnectTimeout,    // "CDDB error #4: cannot connect, timed out."
    ServerNotFound,    // "CDDB error #5: server not found."
    SendFailed,        // "CDDB error #6: cannot send cddb request."
    NotHttp,           // "CDDB error #7: wrong server response."
    HttpStatus,        // "CDDB error #8: wrong server response."
    NoMatch,           // "CDDB error #9: no records for your disk found."
    ServerFailure,     // "CDDB error #10: CDDB request failed for unknown reason."
    ReceiveFailed,     // "Socket error: failed to receive data."
    ReceiveTimeout,    // "Socket error: timed out."
    Cancelled,         // "CDDB lookup cancelled."
};

// The message of a failure, exactly as the component reports it.
std::string_view FailureText(Failure f);

struct Match {
    std::string category;     // first word of the match line
    std::string discId;       // second word
    std::string description;  // the rest, trimmed (UTF-8)
    std::string raw;          // record text, lines joined with "\n" (UTF-8)
    Record record;            // raw parsed; category filled in
};

struct LookupResult {
    Failure failure = Failure::None;
    std::vector<Match> matches;
    std::size_t recordsRead = 0;  // leading matches whose record was read

    bool ok() const { return failure == Failure::None; }
    std::string_view message() const { return FailureText(failure); }
};

// The pieces of an answer, on their own for tests and fuzzing. The CDDB
// status code of a status line (-1 without three digits in front).
int StatusCode(std::string_view line);
// "category discid description..."; false when the line has no id.
bool ParseMatchLine(std::string_view line, Match& match);
// One received line as UTF-8: level 6 answers are UTF-8, level 5 answers
// (and level 6 lines that are not valid UTF-8) ISO-8859-1.
std::string Decode(std::string_view line, int level);

// The URL of one CDDB command (exposed for tests and logs). It goes out as
// an HTTP/1.0 GET with a Host header naming the server; through a proxy the
// request line carries it whole.
std::string RequestUrl(const Settings& settings, std::string_view command);

class CddbClient {
public:
    explicit CddbClient(Settings settings);

    const Settings& settings() const { return settings_; }

    // The query, then a read of each match in order; stops at the first
    // failure and keeps what was read before it. A TOC that is not usable
    // fails with NoMatch without asking the server.
    LookupResult Lookup(const DiscToc& toc, const std::atomic<bool>* cancel = nullptr) const;

    // The two steps on their own. Query fills matches (no raw text); Read
    // fills match.raw and match.record.
    LookupResult Query(const DiscToc& toc, const std::atomic<bool>* cancel = nullptr) const;
    Failure Read(Match& match, const std::atomic<bool>* cancel = nullptr) const;

private:
    Settings settings_;
};

// E_FAIL for every failure, S_OK otherwise; the text goes with it.
inline HRESULT FailureResult(Failure f) { return f == Failure::None ? S_OK : E_FAIL; }

}  // namespace kiv::cddb
