// Answers of the MusicBrainz web service for the tests, in the shape of
// /ws/2/discid/<id>?inc=recordings+artist-credits&fmt=json, and a local
// service that gives them.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/local_http_server.h"

namespace kiv::test::musicbrainz {

struct TrackAnswer {
    std::string title, artist, recordingId;
};

inline std::string Credit(const std::string& name) {
    return R"("artist-credit":[{"name":")" + name + R"(","joinphrase":"","artist":{"id":"a1","name":")" + name +
           R"("}}])";
}

// One release whose medium carries discId (a first medium of another disc
// is put in front when otherMediumFirst, as on a double album).
inline std::string ReleaseJson(const std::string& id, const std::string& title, const std::string& artist,
                               const std::string& date, const std::vector<TrackAnswer>& tracks,
                               const std::string& discId, bool otherMediumFirst = false) {
    std::string medium = R"({"position":2,"format":"CD","discs":[{"id":")" + discId + R"("}],"tracks":[)";
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        if (i) medium += ",";
        medium += R"({"id":"t)" + std::to_string(i) + R"(","position":)" + std::to_string(i + 1) + R"(,"title":")" +
                  tracks[i].title + R"(",)" + Credit(tracks[i].artist) + R"(,"recording":{"id":")" +
                  tracks[i].recordingId + R"(","title":"x"}})";
    }
    medium += "]}";
    std::string media = medium;
    if (otherMediumFirst)
        media = R"({"position":1,"format":"CD","discs":[{"id":"other"}],"tracks":[{"id":"o","title":"Wrong",)" +
                Credit(artist) + R"(}]},)" + medium;
    return R"({"id":")" + id + R"(","title":")" + title + R"(","date":")" + date + R"(",)" + Credit(artist) +
           R"(,"media":[)" + media + "]}";
}

inline std::string DiscAnswerJson(const std::string& discId, const std::vector<std::string>& releases) {
    std::string out = R"({"id":")" + discId + R"(","releases":[)";
    for (std::size_t i = 0; i < releases.size(); ++i) out += (i ? "," : "") + releases[i];
    return out + "]}";
}

// The disc id a request asks for (the path's last segment), empty when the
// request is not a disc id lookup.
inline std::string RequestedDiscId(const std::string& target) {
    const std::string prefix = "/ws/2/discid/";
    if (target.rfind(prefix, 0) != 0) return {};
    return target.substr(prefix.size(), target.find('?') - prefix.size());
}

// Points the lookups of this process (and its children) at base, with no
// proxy from the environment in between.
inline void UseMusicBrainz(const std::string& base, const char* source = "musicbrainz") {
    ::setenv("ONDALO_MUSICBRAINZ_URL", base.c_str(), 1);
    ::setenv("ONDALO_LOOKUP", source, 1);
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        ::unsetenv(name);
}

inline void ForgetMusicBrainz() {
    for (const char* name : {"ONDALO_MUSICBRAINZ_URL", "ONDALO_LOOKUP", "ONDALO_MUSICBRAINZ_TIMEOUT"}) ::unsetenv(name);
}

}  // namespace kiv::test::musicbrainz
