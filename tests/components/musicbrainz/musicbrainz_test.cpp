#include <gtest/gtest.h>

#include <chrono>
#include <map>

#include "components/cdrip/cddb/cddb_record.h"
#include "components/cdrip/musicbrainz/disc_lookup.h"
#include "components/cdrip/musicbrainz/musicbrainz_client.h"
#include "components/cdrip/musicbrainz/musicbrainz_release.h"
#include "tests/components/musicbrainz/musicbrainz_answers.h"

namespace kiv::musicbrainz {
namespace {

using test::HttpReply;
using test::HttpRequestSeen;
using test::LocalHttpServer;
using namespace test::musicbrainz;

// libdiscid's own published example: 22 tracks, lead-out at 303602
// (addresses with the 150-frame lead-in).
cddb::DiscToc PublishedToc() {
    const int offsets[] = {150,    9700,   25887,  39297,  53795,  63735,  77517,  94877,
                           107270, 123552, 135522, 148422, 161197, 174790, 192022, 205545,
                           218010, 228700, 239590, 255470, 266932, 288750};
    cddb::DiscToc toc;
    for (int o : offsets) toc.trackStarts.push_back(o - 150);
    toc.leadOut = 303602 - 150;
    return toc;
}

TEST(MusicBrainzDiscId, PublishedExampleAndUnusableTocs) {
    const cddb::DiscToc toc = PublishedToc();
    EXPECT_EQ(MusicBrainzDiscId(toc), "xUp1F2NkfP8s8jaeFn_Av3jNEI4-");
    EXPECT_EQ(cddb::DiscIdText(cddb::DiscId(toc)), "370fce16");  // the same disc's freedb id
    // The same audio as the first session of an enhanced CD: the data
    // track 11400 frames after the audio's lead-out is left out.
    cddb::DiscToc enhanced = toc;
    enhanced.trackStarts.push_back(toc.leadOut + 11400);
    enhanced.leadOut = toc.leadOut + 11400 + 30000;
    EXPECT_EQ(MusicBrainzDiscId(enhanced, 22), "xUp1F2NkfP8s8jaeFn_Av3jNEI4-");
    EXPECT_EQ(MusicBrainzDiscId(cddb::DiscToc{{}, 0}), "");
    EXPECT_EQ(MusicBrainzDiscId(cddb::DiscToc{{0, 500}, 400}), "");
}

const std::vector<TrackAnswer> kBandTracks = {{"Intro", "The Band", "r0"}, {"Second: Part/Two", "The Band", "r1"}};
const std::vector<TrackAnswer> kMixTracks = {{"Song A", "Singer X", "r0"}, {"Song B", "Duo Y", "r1"}};

TEST(MusicBrainzRelease, AnswersBecomeCddbRecords) {
    struct Case {
        const char* name;
        std::string json;
        std::size_t releases;
        std::string artist, album, year;
        std::vector<std::string> titles;          // TTITLEn as the record has them
        std::vector<std::string> trackArtists;    // the record's compilation artists
        std::size_t notes;
    };
    const Case cases[] = {
        {"single artist", DiscAnswerJson("D", {ReleaseJson("rel-1", "The Album", "The Band", "1999-04-12", kBandTracks, "D")}),
         1, "The Band", "The Album", "1999", {"Intro", "Second: Part/Two"}, {"", ""}, 0},
        {"compilation", DiscAnswerJson("D", {ReleaseJson("rel-2", "Hits", "Various Artists", "2001", kMixTracks, "D")}),
         1, "Various Artists", "Hits", "2001", {"Singer X / Song A", "Duo Y / Song B"}, {"Singer X", "Duo Y"}, 0},
        {"two releases, disc on the second medium",
         DiscAnswerJson("D", {ReleaseJson("rel-1", "The Album", "The Band", "", kBandTracks, "D", true),
                              ReleaseJson("rel-3", "Reissue", "The Band", "2010", kBandTracks, "D")}),
         2, "The Band", "The Album", "", {"Intro", "Second: Part/Two"}, {"", ""}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const DiscAnswer answer = ParseDiscAnswer(c.json, "D");
        ASSERT_EQ(answer.error, "");
        ASSERT_EQ(answer.releases.size(), c.releases);
        const std::string raw = RecordText(answer.releases[0], "05000402", answer.releases.size());
        const cddb::Record record = cddb::ParseRecord(raw);
        EXPECT_EQ(record.discId, "05000402");
        EXPECT_EQ(record.artist, c.artist);
        EXPECT_EQ(record.album, c.album);
        EXPECT_EQ(record.year, c.year);
        EXPECT_EQ(record.musicBrainzReleaseId, answer.releases[0].id);
        ASSERT_EQ(record.tracks.size(), c.titles.size());
        for (std::size_t i = 0; i < c.titles.size(); ++i) {
            EXPECT_EQ(record.tracks[i].title, c.titles[i]);
            EXPECT_EQ(record.tracks[i].artist, c.trackArtists[i]);
            EXPECT_EQ(record.tracks[i].musicBrainzTrackId, "r" + std::to_string(i));
        }
        const std::vector<std::string> notes = cddb::RecordNotes(raw);
        ASSERT_EQ(notes.size(), c.notes);
        if (!notes.empty()) {
            EXPECT_EQ(notes[0], "MusicBrainz knows 2 releases of this disc; the first is taken: The Band / The Album (rel-1).");
        }
    }
}

TEST(MusicBrainzRelease, TagsCarryTrackArtistsAndIds) {
    const DiscAnswer answer =
        ParseDiscAnswer(DiscAnswerJson("D", {ReleaseJson("rel-2", "Hits", "Various Artists", "2001", kMixTracks, "D")}), "D");
    ASSERT_EQ(answer.releases.size(), 1u);
    const TagRecord tags = cddb::TrackTags(cddb::ParseRecord(RecordText(answer.releases[0], "05000402")), 1);
    EXPECT_EQ(tags.title, u"Song B");
    EXPECT_EQ(tags.artist, u"Duo Y");
    EXPECT_EQ(tags.album, u"Hits");
    // The ids are named fields; the comment is left to the user.
    EXPECT_EQ(tags.comment, u"");
    const cddb::Record record = cddb::ParseRecord(RecordText(answer.releases[0], "05000402"));
    EXPECT_EQ(cddb::TrackFields(record, 1),
              (std::vector<TagField>{{u"MUSICBRAINZ_ALBUMID", u"rel-2"}, {u"MUSICBRAINZ_TRACKID", u"r1"}}));
    // A track the release does not list has the album's id alone.
    EXPECT_EQ(cddb::TrackFields(record, 5), (std::vector<TagField>{{u"MUSICBRAINZ_ALBUMID", u"rel-2"}}));
    // A CDDB record keeps an empty comment, no named fields and the disc's artist.
    const cddb::Record cddbRecord = cddb::ParseRecord("DTITLE=Various / Hits\nTTITLE0=Singer X / Song A\n");
    const TagRecord cddbTags = cddb::TrackTags(cddbRecord, 0);
    EXPECT_EQ(cddbTags.comment, u"");
    EXPECT_TRUE(cddb::TrackFields(cddbRecord, 0).empty());
    EXPECT_EQ(cddbTags.artist, u"Various");
    EXPECT_EQ(cddbTags.title, u"Singer X / Song A");
}

TEST(MusicBrainzRelease, ValuesCannotAddRecordLines) {
    Release r;
    r.id = "id\nDTITLE=Evil / Evil";
    r.title = "A\\nB\ttab";
    r.artist = "X";
    r.tracks = {{"t", "line\nTTITLE5=injected", "X"}};
    const cddb::Record record = cddb::ParseRecord(RecordText(r, "00000000"));
    EXPECT_EQ(record.album, "A\\nB\ttab");
    EXPECT_EQ(record.tracks.size(), 1u);
    EXPECT_EQ(record.Track(0).title, "line\nTTITLE5=injected");
    EXPECT_EQ(record.musicBrainzReleaseId, "id\nDTITLE=Evil / Evil");
    EXPECT_EQ(record.artist, "X");
}

TEST(MusicBrainzRelease, MalformedAnswersSayWhy) {
    const std::pair<std::string, std::string> cases[] = {
        {"{\"releases\": [", "the answer is not valid JSON"},
        {"", "the answer is not valid JSON"},
        {"[1,2]", "the answer is not a JSON object"},
        {"{\"error\":\"Not Found\"}", "the answer lists no releases"},
        {"{\"releases\": 5}", "the answer lists no releases"},
    };
    for (const auto& [json, error] : cases) {
        SCOPED_TRACE(json);
        EXPECT_EQ(ParseDiscAnswer(json, "D").error, error);
    }
    // Members of the wrong type are skipped, not trusted.
    const DiscAnswer odd = ParseDiscAnswer(
        R"({"releases":[7,{"id":1,"title":["x"],"media":[{"tracks":[{"title":5},null,{"title":"ok","artist-credit":"no"}]}]}]})",
        "D");
    EXPECT_EQ(odd.error, "");
    ASSERT_EQ(odd.releases.size(), 1u);
    EXPECT_EQ(odd.releases[0].id, "");
    ASSERT_EQ(odd.releases[0].tracks.size(), 2u);
    EXPECT_EQ(odd.releases[0].tracks[1].title, "ok");
}

TEST(MusicBrainzSettings, EnvironmentOverrides) {
    std::map<std::string, std::string> env = {{"ONDALO_MUSICBRAINZ_URL", "http://127.0.0.1:9/"},
                                              {"ONDALO_COVERART_URL", "file:///etc"},
                                              {"ONDALO_MUSICBRAINZ_CONTACT", "me@example.org"},
                                              {"ONDALO_MUSICBRAINZ_TIMEOUT", "3"}};
    auto reader = [&](const char* name) -> const char* {
        auto it = env.find(name);
        return it == env.end() ? nullptr : it->second.c_str();
    };
    const Settings s = SettingsFromEnvironment(reader);
    EXPECT_EQ(s.server, "http://127.0.0.1:9");
    EXPECT_EQ(s.coverServer, "https://coverartarchive.org");
    EXPECT_EQ(s.userAgent, std::string("Ondalo/") + ONDALO_VERSION + " ( me@example.org )");
    EXPECT_EQ(s.timeout, std::chrono::seconds(3));
    env["ONDALO_MUSICBRAINZ_TIMEOUT"] = "0";
    env["ONDALO_MUSICBRAINZ_CONTACT"] = "x)\r\nHost: evil";
    const Settings d = SettingsFromEnvironment(reader);
    EXPECT_EQ(d.timeout, Settings().timeout);
    EXPECT_EQ(d.userAgent, Settings().userAgent);

    EXPECT_EQ(ParseLookupSource("MusicBrainz"), LookupSource::MusicBrainz);
    EXPECT_EQ(ParseLookupSource("BOTH"), LookupSource::Both);
    EXPECT_EQ(ParseLookupSource("freedb"), std::nullopt);
}

const cddb::DiscToc kToc{{0, 15000, 30000}, 45000};

class MusicBrainzLookup : public ::testing::Test {
protected:
    void TearDown() override {
        ForgetMusicBrainz();
        ::unsetenv("ONDALO_CDDB_SERVER");
        ::unsetenv("ONDALO_CDDB_PORT");
    }
};

TEST_F(MusicBrainzLookup, AsksForTheDiscWithItsNameAndMakesTheRecord) {
    const std::string id = MusicBrainzDiscId(kToc);
    LocalHttpServer server([&](const HttpRequestSeen&) {
        return HttpReply{200, DiscAnswerJson(id, {ReleaseJson("rel-1", "The Album", "The Band", "1999", kBandTracks, id)}),
                         "application/json", {}, "", {}};
    });
    UseMusicBrainz(server.base());
    const LookupResult r = Client(SettingsFromEnvironment()).Lookup(kToc);
    ASSERT_TRUE(r.ok()) << r.message;
    EXPECT_EQ(r.match.category, "musicbrainz");
    EXPECT_EQ(r.match.discId, "0c025803");
    EXPECT_EQ(r.match.description, "The Band / The Album");
    EXPECT_EQ(r.match.record.Track(1).title, "Second: Part/Two");
    ASSERT_EQ(server.requests().size(), 1u);
    const HttpRequestSeen seen = server.requests()[0];
    EXPECT_EQ(seen.target, "/ws/2/discid/" + id + "?inc=recordings+artist-credits&fmt=json");
    EXPECT_NE(seen.head.find(std::string("User-Agent: Ondalo/") + ONDALO_VERSION + " ( "), std::string::npos) << seen.head;
}

TEST_F(MusicBrainzLookup, FailuresAreClearLines) {
    struct Case {
        const char* name;
        HttpReply reply;
        std::string message;
    };
    const Case cases[] = {
        {"unknown disc", {404, R"({"error":"Not Found"})", "application/json", {}, "", {}},
         "MusicBrainz: no release found for disc id " + MusicBrainzDiscId(kToc) + "."},
        {"busy", {503, "slow down", "text/plain", {}, "", {}}, "MusicBrainz: the service answered with HTTP status 503."},
        {"broken JSON", {200, R"({"releases":[{"id":)", "application/json", {}, "", {}},
         "MusicBrainz: the answer is not valid JSON."},
        {"no usable release", {200, R"({"releases":[{"id":"x","media":[]}]})", "application/json", {}, "", {}},
         "MusicBrainz: no release found for disc id " + MusicBrainzDiscId(kToc) + "."},
        {"slow", {200, "{}", "application/json", {}, "", std::chrono::milliseconds(4000)},
         "MusicBrainz: the server did not answer in time."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LocalHttpServer server([&](const HttpRequestSeen&) { return c.reply; });
        UseMusicBrainz(server.base());
        ::setenv("ONDALO_MUSICBRAINZ_TIMEOUT", "1", 1);
        const auto started = std::chrono::steady_clock::now();
        const LookupResult r = Client(SettingsFromEnvironment()).Lookup(kToc);
        EXPECT_FALSE(r.ok());
        EXPECT_EQ(r.message, c.message);
        // One second of waiting for its turn at most, one of time-out.
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
    }
    UseMusicBrainz("http://127.0.0.1:" + std::to_string(test::UnusedLocalPort()));
    EXPECT_EQ(Client(SettingsFromEnvironment()).Lookup(kToc).message, "MusicBrainz: cannot connect to the server.");
}

TEST_F(MusicBrainzLookup, RequestsKeepASecondApart) {
    LocalHttpServer server([](const HttpRequestSeen&) { return HttpReply{404, "{}", "application/json", {}, "", {}}; });
    UseMusicBrainz(server.base());
    const Client client(SettingsFromEnvironment());
    client.Lookup(kToc);
    const auto started = std::chrono::steady_clock::now();
    client.Lookup(kToc);
    client.Lookup(kToc);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1900));
    EXPECT_EQ(server.requests().size(), 3u);
}

TEST_F(MusicBrainzLookup, BothAsksMusicBrainzOnlyWhenCddbFindsNothing) {
    const std::string id = MusicBrainzDiscId(kToc);
    LocalHttpServer mb([&](const HttpRequestSeen&) {
        return HttpReply{200, DiscAnswerJson(id, {ReleaseJson("rel-1", "MB Album", "MB Band", "", kBandTracks, id)}),
                         "application/json", {}, "", {}};
    });
    UseMusicBrainz(mb.base(), "both");
    bool cddbKnows = true;
    LocalHttpServer cddbServer([&](const HttpRequestSeen& seen) {
        if (!cddbKnows) return HttpReply{200, "202 No match.\r\n", "text/plain", {}, "", {}};
        if (seen.target.find("cmd=cddb+query") != std::string::npos)
            return HttpReply{200, "200 rock 0c025803 C / D\r\n", "text/plain", {}, "", {}};
        return HttpReply{200, "210 rock 0c025803\r\nDTITLE=C / D\r\n.\r\n", "text/plain", {}, "", {}};
    });
    ::setenv("ONDALO_CDDB_SERVER", "127.0.0.1", 1);
    ::setenv("ONDALO_CDDB_PORT", std::to_string(cddbServer.port()).c_str(), 1);

    DiscLookupResult r = LookupDisc(kToc, LookupSource::Both);
    ASSERT_TRUE(r.ok()) << r.message;
    ASSERT_EQ(r.matches.size(), 1u);
    EXPECT_EQ(r.matches[0].record.artist, "C");
    EXPECT_TRUE(mb.requests().empty());

    cddbKnows = false;
    r = LookupDisc(kToc, LookupSource::Both);
    ASSERT_TRUE(r.ok()) << r.message;
    ASSERT_EQ(r.recordsRead, 1u);
    EXPECT_EQ(r.matches[0].record.artist, "MB Band");

    // Neither knows it: both say why.
    UseMusicBrainz("http://127.0.0.1:" + std::to_string(test::UnusedLocalPort()), "both");
    r = LookupDisc(kToc, LookupSource::Both);
    EXPECT_EQ(r.message, "CDDB error #9: no records for your disk found. MusicBrainz: cannot connect to the server.");
    EXPECT_EQ(r.recordsRead, 0u);
}

TEST(CoverArt, FrontCoverIsFetchedBoundedAndChecked) {
    const std::string jpeg = std::string("\xFF\xD8\xFF\xE0", 4) + std::string(2000, 'j');
    const std::string png = std::string("\x89PNG\r\n\x1A\n", 8) + "rest";
    LocalHttpServer server([&](const HttpRequestSeen& seen) {
        // The archive sends the picture's own address.
        if (seen.target == "/release/rel-jpeg/front")
            return HttpReply{307, "", "text/plain", {"Location: /images/1.jpg"}, "", {}};
        if (seen.target == "/images/1.jpg") return HttpReply{200, jpeg, "image/jpeg", {}, "", {}};
        if (seen.target == "/release/rel-png/front") return HttpReply{200, png, "application/octet-stream", {}, "", {}};
        if (seen.target == "/release/rel-html/front") return HttpReply{200, "<html>", "image/jpeg", {}, "", {}};
        if (seen.target == "/release/rel-big/front") return HttpReply{200, jpeg + std::string(5000, 'x'), "image/jpeg", {}, "", {}};
        return HttpReply{404, "", "text/plain", {}, "", {}};
    });
    Settings settings;
    settings.coverServer = server.base();
    struct Case {
        const char* release;
        std::string mimeType, message;
        std::size_t size;
    };
    const Case cases[] = {
        {"rel-jpeg", "image/jpeg", "", jpeg.size()},
        {"rel-png", "image/png", "", png.size()},
        {"rel-none", "", "Cover Art Archive: the release has no front cover.", 0},
        {"rel-html", "", "Cover Art Archive: the answer is not a picture.", 0},
        {"rel-big", "", "Cover Art Archive: the front cover is larger than 0 MiB and is left out.", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.release);
        const CoverResult r = FetchFrontCover(settings, c.release, 4096);
        EXPECT_EQ(r.mimeType, c.mimeType);
        EXPECT_EQ(r.message, c.message);
        EXPECT_EQ(r.data.size(), c.size);
    }
}

}  // namespace
}  // namespace kiv::musicbrainz
