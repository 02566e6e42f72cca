#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <fstream>

#include "media_test_support.h"
#include "platform/media/handle_stream.h"
#include "platform/media/sync_reader.h"

namespace kiv::media {
namespace {

using test::TempDir;

std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

std::u16string Attribute(SyncReader& r, std::u16string_view name, AttrType* typeOut = nullptr) {
    WORD stream = 0, len = 0;
    AttrType type{};
    if (r.GetAttributeByName(&stream, name, &type, nullptr, &len) != S_OK) return u"<absent>";
    std::vector<BYTE> buf(len + 2, 0);
    len = static_cast<WORD>(buf.size());
    EXPECT_EQ(r.GetAttributeByName(&stream, name, &type, buf.data(), &len), S_OK);
    if (typeOut) *typeOut = type;
    return std::u16string(reinterpret_cast<const char16_t*>(buf.data()));
}

QWORD Duration(SyncReader& r) {
    WORD stream = 0, len = 8;
    AttrType type{};
    QWORD d = 0;
    EXPECT_EQ(r.GetAttributeByName(&stream, u"Duration", &type, reinterpret_cast<BYTE*>(&d), &len), S_OK);
    EXPECT_EQ(type, AttrType::Qword);
    return d;
}

struct Decoded {
    std::vector<int16_t> pcm;
    std::vector<QWORD> times;
    QWORD end = 0;  // time + duration of the last sample
    bool contiguous = true;
};

// Reads every sample of the stream until NS_E_NO_MORE_SAMPLES.
Decoded ReadAll(SyncReader& r, WORD streamNumber) {
    Decoded d;
    HRESULT hr;
    std::unique_ptr<SampleBuffer> s;
    QWORD time = 0, duration = 0;
    while ((hr = r.GetNextSample(streamNumber, s, &time, &duration)) == S_OK) {
        if (!d.times.empty() && (time > d.end + 1 || time + 1 < d.end)) d.contiguous = false;
        d.times.push_back(time);
        d.end = time + duration;
        auto* p = reinterpret_cast<const int16_t*>(s->GetBuffer());
        d.pcm.insert(d.pcm.end(), p, p + s->GetLength() / 2);
    }
    EXPECT_EQ(hr, NS_E_NO_MORE_SAMPLES);
    return d;
}

std::string MakeFixture(const TempDir& dir, const std::string& name, const std::string& args) {
    std::string file = dir.File(name);
    auto r = test::Run("ffmpeg -v error -y " + args + " '" + file + "'");
    EXPECT_EQ(r.status, 0) << args;
    return file;
}

TEST(MediaReader, ReadsFilesOfOtherEncoders) {
    KIV_REQUIRE_TOOL("ffmpeg");
    KIV_REQUIRE_TOOL("ffprobe");
    TempDir dir;
    struct Case {
        const char* codec;
        WORD tag;
        int bitrate;
    } cases[] = {{"wmav1", 0x160, 96000}, {"wmav2", 0x161, 128000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.codec);
        std::string file = MakeFixture(
            dir, std::string(c.codec) + ".wma",
            "-f lavfi -i sine=f=440:r=44100:d=4 -ac 2 -c:a " + std::string(c.codec) + " -b:a " +
                std::to_string(c.bitrate) +
                " -metadata title=Titre -metadata artist=Artiste -metadata album_artist=Autre"
                " -metadata album=Album -metadata genre=Jazz -metadata WM/Year=2003 -metadata track=12"
                " -metadata comment=Remarque");
        auto probe = test::Probe(file);

        SyncReader r;
        ASSERT_EQ(r.Open(Wide(file)), S_OK);
        std::unique_ptr<Profile> profile;
        ASSERT_EQ(r.GetProfile(profile), S_OK);
        ASSERT_EQ(profile->GetStreamCount(), 1u);
        std::unique_ptr<StreamConfig> sc;
        ASSERT_EQ(profile->GetStream(0, sc), S_OK);
        EXPECT_EQ(sc->GetStreamType(), WMMEDIATYPE_Audio);
        EXPECT_EQ(sc->GetBitrate(), DWORD(c.bitrate));
        WAVEFORMATEX coded{};
        ASSERT_TRUE(sc->GetMediaType().GetWaveFormat(coded));
        EXPECT_EQ(coded.wFormatTag, c.tag);

        DWORD output = 99;
        ASSERT_EQ(r.GetOutputNumberForStream(sc->GetStreamNumber(), &output), S_OK);
        std::unique_ptr<MediaProps> props;
        ASSERT_EQ(r.GetOutputProps(output, props), S_OK);
        WAVEFORMATEX pcm{};
        ASSERT_TRUE(props->GetMediaType().GetWaveFormat(pcm));
        EXPECT_EQ(pcm.wFormatTag, WAVE_FORMAT_PCM);
        EXPECT_EQ(pcm.nChannels, 2);
        EXPECT_EQ(pcm.nSamplesPerSec, 44100u);
        EXPECT_EQ(pcm.wBitsPerSample, 16);
        EXPECT_EQ(pcm.nBlockAlign, 4);

        EXPECT_EQ(Duration(r), static_cast<QWORD>(std::llround(std::stod(probe["duration"]) * 1e7)));
        EXPECT_EQ(Attribute(r, u"Title"), u"Titre");
        EXPECT_EQ(Attribute(r, u"Author"), u"Artiste");
        EXPECT_EQ(Attribute(r, u"WM/AlbumArtist"), u"Autre");
        EXPECT_EQ(Attribute(r, u"WM/AlbumTitle"), u"Album");
        EXPECT_EQ(Attribute(r, u"WM/Genre"), u"Jazz");
        EXPECT_EQ(Attribute(r, u"WM/Year"), u"2003");
        EXPECT_EQ(Attribute(r, u"WM/TrackNumber"), u"12");
        EXPECT_EQ(Attribute(r, u"Description"), u"Remarque");
        EXPECT_EQ(Attribute(r, u"WM/Track"), u"<absent>");

        ASSERT_EQ(r.SetStreamsSelected(std::vector<StreamSelection>{{sc->GetStreamNumber(), true}}), S_OK);
        EXPECT_EQ(r.SetReadStreamSamples(sc->GetStreamNumber(), true), NS_E_INVALID_REQUEST);
        ASSERT_EQ(r.SetReadStreamSamples(sc->GetStreamNumber(), false), S_OK);
        Decoded ours = ReadAll(r, sc->GetStreamNumber());
        EXPECT_TRUE(ours.contiguous);
        ASSERT_FALSE(ours.times.empty());
        EXPECT_EQ(ours.times.front(), 0u);
        auto reference = test::DecodeWithFfmpeg(file);
        ASSERT_EQ(ours.pcm.size(), reference.size());
        EXPECT_TRUE(ours.pcm == reference) << "decoded PCM differs from ffmpeg's";

        // Reading on after the end stays at the end.
        std::unique_ptr<SampleBuffer> s;
        QWORD t = 0, d = 0;
        EXPECT_EQ(r.GetNextSample(sc->GetStreamNumber(), s, &t, &d), NS_E_NO_MORE_SAMPLES);

        // The same file through a caller's descriptor gives the same PCM.
        int fd = ::open(file.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        SyncReader byHandle;
        ASSERT_EQ(byHandle.OpenStream(std::make_unique<HandleStream>(fd)), S_OK);
        EXPECT_EQ(Attribute(byHandle, u"Title"), u"Titre");
        EXPECT_TRUE(ReadAll(byHandle, 1).pcm == reference);
        byHandle.Close();
        EXPECT_EQ(::close(fd), 0) << "the reader must leave the caller's descriptor open";
    }
}

TEST(MediaReader, RangeStartsExactlyWhereAsked) {
    KIV_REQUIRE_TOOL("ffmpeg");
    TempDir dir;
    // Ten minutes, so that 300 s in 100-ns units (3e9) passes 32 bits.
    std::string file = MakeFixture(dir, "long.wma",
                                   "-f lavfi -i sine=f=300:r=8000:d=600 -ac 1 -c:a wmav2 -b:a 24k");
    SyncReader r;
    ASSERT_EQ(r.Open(Wide(file)), S_OK);
    EXPECT_NEAR(double(Duration(r)), 600e7, 0.1e7);
    Decoded all = ReadAll(r, 1);
    ASSERT_GT(all.pcm.size(), 600u * 8000 - 2048);

    struct Case {
        QWORD start;
        LONGLONG duration;
    } cases[] = {{3000000000ull, 0}, {12345678, 5000000}, {0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.start);
        ASSERT_EQ(r.SetRange(c.start, c.duration), S_OK);
        Decoded part = ReadAll(r, 1);
        ASSERT_FALSE(part.times.empty());
        // Times fall on sample boundaries: within half a sample of the start.
        EXPECT_NEAR(double(part.times.front()), double(c.start), 1e7 / 8000 / 2);
        EXPECT_TRUE(part.contiguous);
        const std::size_t first = static_cast<std::size_t>((c.start * 8000 + 5000000) / 10000000);
        const std::size_t expected = c.duration ? static_cast<std::size_t>(c.duration * 8000 / 10000000)
                                                : all.pcm.size() - first;
        EXPECT_EQ(part.pcm.size(), expected);
        // Past the decoder's warm-up after the jump the samples are those of
        // the full decode at the same place.
        double err = 0, energy = 0;
        for (std::size_t i = 4096; i < std::min<std::size_t>(part.pcm.size(), 40000); ++i) {
            double diff = double(part.pcm[i]) - all.pcm[first + i];
            err += diff * diff;
            energy += double(all.pcm[first + i]) * all.pcm[first + i];
        }
        if (part.pcm.size() > 4096) {
            EXPECT_LT(err, energy * 1e-4);
        }
    }
}

// A track number stored as a 32-bit number rather than as text keeps its
// type (the WMA decoder writes it in decimal). FFmpeg writes text only, so
// the fixture is a text "7" whose type word is turned into DWORD: its four
// value bytes "7\0\0\0" then read as the number 55.
TEST(MediaReader, NumericTrackNumberKeepsItsType) {
    KIV_REQUIRE_TOOL("ffmpeg");
    TempDir dir;
    std::string file = MakeFixture(dir, "numeric.wma",
                                   "-f lavfi -i sine=r=8000:d=1 -ac 1 -c:a wmav2 -b:a 24k -metadata track=7");
    std::string bytes;
    {
        std::ifstream in(file, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    const std::u16string name = u"WM/TrackNumber";
    std::string pattern(reinterpret_cast<const char*>(name.c_str()), (name.size() + 1) * 2);
    std::size_t at = bytes.find(pattern);
    ASSERT_NE(at, std::string::npos);
    at += pattern.size();
    ASSERT_EQ(bytes.substr(at, 8), std::string("\0\0\4\0" "7\0\0\0", 8));  // type 0 (text), 4 bytes, "7"
    bytes[at] = 3;  // DWORD
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;

    SyncReader r;
    ASSERT_EQ(r.Open(Wide(file)), S_OK);
    WORD stream = 0, len = 4;
    AttrType type{};
    std::uint32_t track = 0;
    ASSERT_EQ(r.GetAttributeByName(&stream, u"WM/TrackNumber", &type, reinterpret_cast<BYTE*>(&track), &len), S_OK);
    EXPECT_EQ(type, AttrType::Dword);
    EXPECT_EQ(len, 4);
    EXPECT_EQ(track, 55u);
}

TEST(MediaReader, RefusesWhatItCannotRead) {
    TempDir dir;
    std::string text = dir.File("notes.wma");
    std::ofstream(text) << "this is not an ASF file, whatever its name says\n";
    SyncReader r;
    EXPECT_EQ(r.Open(Wide(text)), NS_E_INVALID_DATA);
    EXPECT_EQ(r.Open(Wide(dir.File("missing.wma"))), HRESULT_FROM_WIN32(ENOENT));
    std::unique_ptr<SampleBuffer> s;
    QWORD t = 0, d = 0;
    EXPECT_EQ(r.GetNextSample(0, s, &t, &d), NS_E_INVALID_REQUEST);
    EXPECT_EQ(r.SetRange(0, 0), NS_E_INVALID_REQUEST);
    WORD stream = 0, len = 0;
    AttrType type{};
    EXPECT_EQ(r.GetAttributeByName(&stream, u"Duration", &type, nullptr, &len), NS_E_INVALID_REQUEST);
}

}  // namespace
}  // namespace kiv::media
