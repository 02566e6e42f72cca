// Disc lookups at the MusicBrainz web service: the disc id of a TOC
// (libdiscid), the releases that carry it, and the first of them as a
// CDDB-style record.
//
//   kiv::musicbrainz::Client client(kiv::musicbrainz::SettingsFromEnvironment());
//   kiv::musicbrainz::LookupResult r = client.Lookup(toc, &cancel);
//   if (r.ok()) UseRecord(r.match.raw);  else Log(r.message);
//
// Requests from the whole process keep at least a second apart, as the
// service's rules ask; a lookup waits for its turn (and gives up at once
// when cancelled).
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "components/cdrip/cddb/cddb_client.h"
#include "components/cdrip/cddb/disc_toc.h"

namespace kiv::musicbrainz {

// "Ondalo/VERSION ( contact )".
std::string DefaultUserAgent(const std::string& contact);

struct Settings {
    // Base addresses, without a trailing '/'.
    std::string server = "https://musicbrainz.org";
    std::string coverServer = "https://coverartarchive.org";
    // The service asks every client to name itself, its version and a way
    // to reach its maker.
    std::string userAgent = DefaultUserAgent("https://ondalo.invalid/");
    std::chrono::milliseconds connectTimeout{10000};
    // The whole exchange; a slow service costs a rip no more than this.
    std::chrono::milliseconds timeout{30000};
};

using EnvironmentReader = std::function<const char*(const char*)>;

// Defaults overridden by the environment:
//   ONDALO_MUSICBRAINZ_URL      the web service, e.g. http://127.0.0.1:8080
//   ONDALO_COVERART_URL         the Cover Art Archive
//   ONDALO_MUSICBRAINZ_CONTACT  the contact in the User-Agent (an address or URL)
//   ONDALO_MUSICBRAINZ_TIMEOUT  seconds for one exchange (1-300)
// http_proxy, https_proxy and no_proxy are honoured (libcurl reads them).
Settings SettingsFromEnvironment(const EnvironmentReader& getenv = {});

// The MusicBrainz disc id of a TOC (28 characters), empty when the TOC is
// not usable. Audio tracks only: a data track after the audio (enhanced
// CD) is left out with the lead-out moved to its start less 11400 frames,
// as the service counts such discs; `lastAudio` is its number of audio
// tracks at the start of the disc (0: all tracks are audio).
std::string MusicBrainzDiscId(const cddb::DiscToc& toc, int lastAudio = 0);

struct LookupResult {
    bool found = false;
    cddb::Match match;    // category "musicbrainz"; raw and record filled in
    std::string message;  // why nothing was found, for the user
    bool ok() const { return found; }
};

struct CoverResult {
    std::string mimeType;             // "image/jpeg", "image/png", ...
    std::vector<unsigned char> data;  // empty when there is none
    std::string message;              // why not, for the user
    bool ok() const { return !data.empty(); }
};

// The release's front cover from the Cover Art Archive (its redirects to
// the picture followed), at most maxBytes large; an answer that is not a
// JPEG, PNG, GIF or WebP picture is refused.
CoverResult FetchFrontCover(const Settings& settings, const std::string& releaseId, std::size_t maxBytes,
                            const std::atomic<bool>* cancel = nullptr);

class Client {
public:
    explicit Client(Settings settings);
    const Settings& settings() const { return settings_; }

    LookupResult Lookup(const cddb::DiscToc& toc, int lastAudio = 0, const std::atomic<bool>* cancel = nullptr) const;

private:
    Settings settings_;
};

}  // namespace kiv::musicbrainz
