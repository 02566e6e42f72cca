#include "app/core/rip_verification.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/com/error_info.h"
#include "platform/net/http_client.h"
#include "platform/system/text.h"

namespace kiv::app {

std::string AccurateRipServer() {
    const char* env = std::getenv("ONDALO_ACCURATERIP_URL");
    std::string server = env && *env ? env : kAccurateRipServer;
    while (!server.empty() && server.back() == '/') server.pop_back();
    return server;
}

AccurateRipLookup LookUpAccurateRip(const std::string& server, const std::string& fileName,
                                    const std::atomic<bool>* cancel) {
    AccurateRipLookup lookup;
    const auto ids = accuraterip::ParseFileName(fileName);
    if (!ids) {
        lookup.line = "AccurateRip: the disc has no audio tracks to look up";
        return lookup;
    }
    lookup.idsKnown = true;
    lookup.ids = *ids;
    net::HttpRequest request;
    request.url = server + accuraterip::DatabasePath(*ids);
    request.connectTimeout = std::chrono::milliseconds(10000);
    request.totalTimeout = std::chrono::milliseconds(30000);
    // A disc's file holds a few hundred entries at most.
    request.maxBodyBytes = std::size_t{1} << 20;
    request.cancel = cancel;
    const net::HttpResponse response = net::HttpGet(request);
    if (response.failure != net::HttpFailure::None) {
        lookup.line = "AccurateRip: " + fileName + " could not be fetched: " + net::FailureText(response.failure);
        return lookup;
    }
    if (response.status == 404) {
        lookup.line = "AccurateRip: disc " + fileName + " is not in the database";
        return lookup;
    }
    if (response.status != 200) {
        lookup.line = "AccurateRip: " + fileName + " could not be fetched: the server answered " +
                      std::to_string(response.status);
        return lookup;
    }
    lookup.found = true;
    lookup.database = accuraterip::ParseDatabase(response.body);
    lookup.line = "AccurateRip: " + std::to_string(lookup.database.entries.size()) + " database entries for " + fileName;
    if (!lookup.database.error.empty())
        lookup.line += "; the file is damaged (" + lookup.database.error + "), only the entries before the damage count";
    return lookup;
}

std::vector<OffsetMatch> FindReadOffsets(const accuraterip::Database& database, const accuraterip::DiscIds& ids,
                                         int audioTrack, bool firstTrack, bool lastTrack,
                                         const std::vector<std::uint32_t>& words, std::size_t count, int from, int to) {
    std::vector<OffsetMatch> found;
    if (to < from) return found;
    const auto shifts = static_cast<std::size_t>(to - from) + 1;
    const std::vector<std::uint32_t> v1 = accuraterip::SlidingV1(words, count, shifts, firstTrack, lastTrack);
    if (words.size() < count + shifts - 1) return found;
    for (std::size_t o = 0; o < shifts; ++o) {
        const accuraterip::TrackChecksums sums{0, v1[o], v1[o]};
        const accuraterip::Verdict verdict = accuraterip::Verify(database, ids, audioTrack, sums);
        if (verdict.kind == accuraterip::Verdict::Kind::Accurate)
            found.push_back({from + static_cast<int>(o), verdict.confidenceV1});
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const OffsetMatch& a, const OffsetMatch& b) { return a.confidence > b.confidence; });
    return found;
}

namespace {
std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}
}  // namespace

std::string TrackCheckText(const TrackCheck& check) {
    if (!check.haveSums) return "no checksums (the track was not read whole)";
    return "CRC32 " + Hex(check.sums.crc32) + "  AccurateRip v1 " + Hex(check.sums.v1) + " v2 " + Hex(check.sums.v2) +
           ": " + accuraterip::VerdictText(check.verdict);
}

TrackCheck ReadChecksums(IDrive* drive, ITrack* track, int number) {
    TrackCheck check;
    check.track = number;
    // AccurateRip counts the audio tracks only.
    LONG count = 0;
    if (drive) drive->GetTrackNumber(&count);
    for (LONG n = 1; n <= count && n <= number; ++n) {
        ComPtr<ITrack> t;
        VARIANT_BOOL audio = 0;
        if (SUCCEEDED(drive->GetTrack(n, t.put())) && t && SUCCEEDED(t->get_IsAudio(&audio)) && audio)
            ++check.audioTrack;
    }
    LONG crc = 0, v1 = 0, v2 = 0;
    if (track && SUCCEEDED(track->get_CRC32(&crc)) && SUCCEEDED(track->get_AccurateRipV1(&v1)) &&
        SUCCEEDED(track->get_AccurateRipV2(&v2))) {
        check.haveSums = true;
        check.sums = {static_cast<std::uint32_t>(crc), static_cast<std::uint32_t>(v1), static_cast<std::uint32_t>(v2)};
    } else {
        TakeErrorDescription();
    }
    return check;
}

RipVerifier::RipVerifier(IDrive* drive, std::string server) : drive_(drive), server_(std::move(server)) {}

RipVerifier::~RipVerifier() {
    cancel_ = true;
    if (worker_.joinable()) worker_.join();
}

void RipVerifier::StartLookup(HWND window, UINT message) {
    if (started_) return;
    started_ = true;
    // The drive is asked here, on the owner's thread; the worker only talks
    // to the server.
    Bstr id;
    if (!drive_ || FAILED(drive_->get_AccurateRipId(id.put()))) TakeErrorDescription();
    worker_ = std::thread([this, window, message, server = server_, name = ToUtf8(id.view())] {
        arrived_ = LookUpAccurateRip(server, name, &cancel_);
        PostMessage(window, message, 0, 0);
    });
}

void RipVerifier::LookupArrived() {
    if (!started_ || done_) return;
    if (worker_.joinable()) worker_.join();
    lookup_ = std::move(arrived_);
    done_ = true;
}

TrackCheck RipVerifier::Check(ITrack* track, int number) {
    TrackCheck check = ReadChecksums(drive_.get(), track, number);
    if (check.haveSums && lookup_.idsKnown)
        check.verdict = accuraterip::Verify(lookup_.database, lookup_.ids, check.audioTrack, check.sums);
    checks_.push_back(check);
    return check;
}

std::string RipVerifier::SummaryText() const {
    int accurate = 0, mismatch = 0, unknown = 0;
    for (const TrackCheck& c : checks_) {
        if (!c.haveSums) continue;
        switch (c.verdict.kind) {
            case accuraterip::Verdict::Kind::Accurate: ++accurate; break;
            case accuraterip::Verdict::Kind::Mismatch: ++mismatch; break;
            case accuraterip::Verdict::Kind::NotInDatabase: ++unknown; break;
        }
    }
    const int checked = accurate + mismatch + unknown;
    std::string text = "AccurateRip: " + std::to_string(accurate) + " of " + std::to_string(checked) +
                       (checked == 1 ? " track" : " tracks") + " accurately ripped";
    if (mismatch) text += ", " + std::to_string(mismatch) + " mismatch";
    if (unknown) text += ", " + std::to_string(unknown) + " not in database";
    return text;
}

}  // namespace kiv::app
