#include "components/cdrip/musicbrainz/musicbrainz_client.h"

#include <discid/discid.h>

#include <charconv>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "components/cdrip/musicbrainz/musicbrainz_release.h"
#include "platform/net/http_client.h"

namespace kiv::musicbrainz {
namespace {

using Clock = std::chrono::steady_clock;

struct DiscIdDeleter {
    void operator()(::DiscId* d) const { discid_free(d); }
};

// The frames a second session starts after the end of the first: its
// lead-out, lead-in and pre-gap.
constexpr std::int32_t kSessionGap = 11400;
constexpr std::size_t kMaxAnswer = std::size_t{4} << 20;

bool Cancelled(const std::atomic<bool>* cancel) { return cancel != nullptr && cancel->load(); }

// Waits until a second has passed since the process's last request; false
// when cancelled first.
bool TakeTurn(const std::atomic<bool>* cancel) {
    static std::mutex lock;
    static Clock::time_point next{};
    std::lock_guard guard(lock);
    for (auto now = Clock::now(); now < next; now = Clock::now()) {
        if (Cancelled(cancel)) return false;
        std::this_thread::sleep_for(std::min<Clock::duration>(std::chrono::milliseconds(50), next - now));
    }
    if (Cancelled(cancel)) return false;
    next = Clock::now() + std::chrono::seconds(1);
    return true;
}

std::string WithoutTrailingSlash(std::string url) {
    while (!url.empty() && url.back() == '/') url.pop_back();
    return url;
}

bool IsWebAddress(std::string_view url) {
    return (url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0) &&
           url.find_first_of(" \t\r\n") == std::string_view::npos;
}

}  // namespace

std::string DefaultUserAgent(const std::string& contact) {
    return std::string("Ondalo/") + ONDALO_VERSION + " ( " + contact + " )";
}

Settings SettingsFromEnvironment(const EnvironmentReader& getenv) {
    auto read = [&](const char* name) -> std::string {
        const char* v = getenv ? getenv(name) : std::getenv(name);
        return v ? std::string(v) : std::string();
    };
    Settings s;
    if (const std::string v = read("ONDALO_MUSICBRAINZ_URL"); IsWebAddress(v)) s.server = WithoutTrailingSlash(v);
    if (const std::string v = read("ONDALO_COVERART_URL"); IsWebAddress(v)) s.coverServer = WithoutTrailingSlash(v);
    if (const std::string v = read("ONDALO_MUSICBRAINZ_CONTACT");
        !v.empty() && v.find_first_of("\r\n()") == std::string::npos)
        s.userAgent = DefaultUserAgent(v);
    if (const std::string v = read("ONDALO_MUSICBRAINZ_TIMEOUT"); !v.empty()) {
        int seconds = 0;
        const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), seconds);
        if (ec == std::errc() && end == v.data() + v.size() && seconds >= 1 && seconds <= 300) {
            s.timeout = std::chrono::seconds(seconds);
            s.connectTimeout = std::min(s.connectTimeout, s.timeout);
        }
    }
    return s;
}

std::string MusicBrainzDiscId(const cddb::DiscToc& toc, int lastAudio) {
    if (!toc.IsUsable()) return {};
    const int tracks = static_cast<int>(toc.trackStarts.size());
    int last = tracks;
    std::int32_t leadOut = toc.leadOut;
    if (lastAudio > 0 && lastAudio < tracks) {
        last = lastAudio;
        leadOut = toc.trackStarts[static_cast<std::size_t>(lastAudio)] - kSessionGap;
        if (leadOut <= toc.trackStarts[static_cast<std::size_t>(lastAudio - 1)]) return {};
    }
    int offsets[100] = {};
    offsets[0] = leadOut + 150;
    for (int i = 0; i < last; ++i) offsets[i + 1] = toc.trackStarts[static_cast<std::size_t>(i)] + 150;
    std::unique_ptr<::DiscId, DiscIdDeleter> disc(discid_new());
    if (!disc || !discid_put(disc.get(), 1, last, offsets)) return {};
    return discid_get_id(disc.get());
}

Client::Client(Settings settings) : settings_(std::move(settings)) {}

LookupResult Client::Lookup(const cddb::DiscToc& toc, int lastAudio, const std::atomic<bool>* cancel) const {
    LookupResult result;
    const std::string id = MusicBrainzDiscId(toc, lastAudio);
    if (id.empty()) {
        result.message = "MusicBrainz: the disc's table of contents cannot be looked up.";
        return result;
    }
    if (!TakeTurn(cancel)) {
        result.message = "MusicBrainz: lookup cancelled.";
        return result;
    }
    net::HttpRequest request;
    request.url = settings_.server + "/ws/2/discid/" + net::UrlEscape(id) + "?inc=recordings+artist-credits&fmt=json";
    request.userAgent = settings_.userAgent;
    request.headers = {"Accept: application/json"};
    request.connectTimeout = settings_.connectTimeout;
    request.totalTimeout = settings_.timeout;
    request.maxBodyBytes = kMaxAnswer;
    request.cancel = cancel;
    const net::HttpResponse response = net::HttpGet(request);
    if (response.failure != net::HttpFailure::None) {
        result.message = std::string("MusicBrainz: ") + net::FailureText(response.failure) + ".";
        return result;
    }
    if (response.status == 404) {
        result.message = "MusicBrainz: no release found for disc id " + id + ".";
        return result;
    }
    if (response.status != 200) {
        result.message = "MusicBrainz: the service answered with HTTP status " + std::to_string(response.status) + ".";
        return result;
    }
    const DiscAnswer answer = ParseDiscAnswer(response.body, id);
    if (!answer.error.empty()) {
        result.message = "MusicBrainz: " + answer.error + ".";
        return result;
    }
    if (answer.releases.empty()) {
        result.message = "MusicBrainz: no release found for disc id " + id + ".";
        return result;
    }
    const Release& release = answer.releases.front();
    cddb::Match& match = result.match;
    match.category = "musicbrainz";
    match.discId = cddb::DiscIdText(cddb::DiscId(toc));
    match.description = release.artist + " / " + release.title;
    match.raw = RecordText(release, match.discId, answer.releases.size());
    match.record = cddb::ParseRecord(match.raw, match.category);
    result.found = true;
    return result;
}

namespace {

// The picture's type from its first bytes; a server's Content-Type is not
// trusted for what goes into a file's tags.
std::string PictureType(const std::string& data) {
    auto starts = [&](std::string_view magic) { return data.compare(0, magic.size(), magic) == 0; };
    if (starts("\xFF\xD8\xFF")) return "image/jpeg";
    if (starts("\x89PNG\r\n\x1A\n")) return "image/png";
    if (starts("GIF87a") || starts("GIF89a")) return "image/gif";
    if (starts("RIFF") && data.compare(8, 4, "WEBP") == 0) return "image/webp";
    return {};
}

}  // namespace

CoverResult FetchFrontCover(const Settings& settings, const std::string& releaseId, std::size_t maxBytes,
                            const std::atomic<bool>* cancel) {
    CoverResult result;
    net::HttpRequest request;
    request.url = settings.coverServer + "/release/" + net::UrlEscape(releaseId) + "/front";
    request.userAgent = settings.userAgent;
    request.connectTimeout = settings.connectTimeout;
    request.totalTimeout = settings.timeout;
    request.maxBodyBytes = maxBytes;
    request.cancel = cancel;
    const net::HttpResponse response = net::HttpGet(request);
    if (response.failure == net::HttpFailure::TooLarge) {
        result.message = "Cover Art Archive: the front cover is larger than " + std::to_string(maxBytes >> 20) +
                         " MiB and is left out.";
    } else if (response.failure != net::HttpFailure::None) {
        result.message = std::string("Cover Art Archive: ") + net::FailureText(response.failure) + ".";
    } else if (response.status == 404) {
        result.message = "Cover Art Archive: the release has no front cover.";
    } else if (response.status != 200) {
        result.message =
            "Cover Art Archive: the service answered with HTTP status " + std::to_string(response.status) + ".";
    } else if (const std::string type = PictureType(response.body); type.empty()) {
        result.message = "Cover Art Archive: the answer is not a picture.";
    } else {
        result.mimeType = type;
        result.data.assign(response.body.begin(), response.body.end());
    }
    return result;
}

}  // namespace kiv::musicbrainz
