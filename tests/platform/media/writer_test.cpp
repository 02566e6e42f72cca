#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <fstream>
#include <functional>
#include <iterator>

#include "media_test_support.h"
#include "platform/media/sync_reader.h"

namespace kiv::media {
namespace {

using test::TempDir;

struct Tags {
    std::u16string name;
    std::u16string value;
};

const std::vector<Tags> kTags = {
    {u"Title", u"Le Tourbillon"},   {u"Author", u"Jeanne"},       {u"WM/AlbumTitle", u"Jules et Jim"},
    {u"WM/Genre", u"Soundtrack"},   {u"WM/Year", u"1962"},        {u"WM/TrackNumber", u"7"},
    {u"Description", u"été, 1962"},
};

HRESULT SetTestTags(Writer& w) {
    for (const auto& t : kTags) {
        auto bytes = test::WideBytes(t.value);
        if (HRESULT hr = w.SetAttribute(0, t.name, AttrType::String, bytes.data(), static_cast<WORD>(bytes.size()));
            FAILED(hr))
            return hr;
    }
    return S_OK;
}

// Prepares a writer the way the WMA encoder does: profile, input type,
// string tags with their terminating zero, then begins writing.
HRESULT StartWriter(Writer& w, const Profile& profile, const std::string& file, const WAVEFORMATEX& input,
                    const std::function<HRESULT(Writer&)>& attributes = SetTestTags) {
    if (HRESULT hr = w.SetProfile(profile); FAILED(hr)) return hr;
    if (HRESULT hr = w.SetOutputFilename(std::u16string(file.begin(), file.end())); FAILED(hr)) return hr;
    DWORD inputs = 0;
    w.GetInputCount(&inputs);
    EXPECT_EQ(inputs, 1u);
    std::unique_ptr<MediaProps> props;
    if (HRESULT hr = w.GetInputProps(0, props); FAILED(hr)) return hr;
    props->SetMediaType(MediaType::ForWaveFormat(WMMEDIASUBTYPE_PCM, input));
    if (HRESULT hr = w.SetInputProps(0, *props); FAILED(hr)) return hr;
    if (HRESULT hr = attributes(w); FAILED(hr)) return hr;
    return w.BeginWriting();
}

// Feeds PCM in blocks of odd sizes, as pipe reads deliver it, with times
// derived from the byte count.
HRESULT Feed(Writer& w, const BYTE* data, std::size_t size, DWORD avgBytesPerSec) {
    static const std::size_t kBlocks[] = {65536, 4097, 1, 30001, 3};
    QWORD clockMs = 0;
    std::size_t done = 0;
    for (int i = 0; done < size; ++i) {
        std::size_t n = std::min(kBlocks[i % 5], size - done);
        std::unique_ptr<SampleBuffer> s;
        if (HRESULT hr = w.AllocateSample(static_cast<DWORD>(n), s); FAILED(hr)) return hr;
        std::memcpy(s->GetBuffer(), data + done, n);
        s->SetLength(static_cast<DWORD>(n));
        if (HRESULT hr = w.WriteSample(0, clockMs * 10000, 0, *s); FAILED(hr)) return hr;
        clockMs += (n * 1000 + avgBytesPerSec / 2) / avgBytesPerSec;
        done += n;
    }
    return S_OK;
}

TEST(MediaWriter, WritesFilesThatOtherToolsRead) {
    KIV_REQUIRE_TOOL("ffprobe");
    KIV_REQUIRE_TOOL("ffmpeg");
    struct Case {
        const char* label;
        bool vbr;
        double value;
        WORD channels;
        DWORD rate;
    } cases[] = {
        {"cbr128_44k_stereo", false, 128000, 2, 44100},
        {"vbr_q75_44k_stereo", true, 0.75, 2, 44100},
        {"cbr32_22k_mono", false, 32000, 1, 22050},
    };
    TempDir dir;
    const double seconds = 3.0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        auto profile = test::BuildProfile(c.vbr, c.value, c.channels, c.rate);
        ASSERT_TRUE(profile);
        std::string file = dir.File(std::string(c.label) + ".wma");
        auto input = test::PcmFormat(c.channels, c.rate);
        auto pcm = test::Sine(seconds, c.rate, c.channels);

        std::unique_ptr<Writer> w;
        ASSERT_EQ(Writer::Create(w), S_OK);
        ASSERT_EQ(StartWriter(*w, *profile, file, input), S_OK);
        std::atomic<int> errors{0};
        DWORD cookie = 0;
        ASSERT_EQ(w->Advise([&](Status s, HRESULT) { errors += s == Status::Error; }, &cookie), S_OK);
        ASSERT_EQ(Feed(*w, reinterpret_cast<const BYTE*>(pcm.data()), pcm.size() * 2, input.nAvgBytesPerSec), S_OK);
        ASSERT_EQ(w->EndWriting(), S_OK);
        EXPECT_EQ(w->Unadvise(cookie), S_OK);
        EXPECT_EQ(errors, 0);

        auto info = test::Probe(file);
        EXPECT_EQ(info["codec_name"], "wmav2");
        EXPECT_EQ(info["sample_rate"], std::to_string(c.rate));
        EXPECT_EQ(info["channels"], std::to_string(c.channels));
        // The last encoder frame is completed with silence: at most one
        // frame (2048 samples) longer.
        double duration = std::stod(info["duration"]);
        EXPECT_GE(duration, seconds - 0.002);
        EXPECT_LE(duration, seconds + 2048.0 / c.rate + 0.002);
        EXPECT_EQ(info["TAG:title"], "Le Tourbillon");
        EXPECT_EQ(info["TAG:artist"], "Jeanne");
        EXPECT_EQ(info["TAG:album"], "Jules et Jim");
        EXPECT_EQ(info["TAG:genre"], "Soundtrack");
        EXPECT_EQ(info["TAG:WM/Year"], "1962");
        EXPECT_EQ(info["TAG:track"], "7");
        EXPECT_EQ(info["TAG:comment"], "été, 1962");

        auto decoded = test::DecodeWithFfmpeg(file);
        const double frames = double(decoded.size()) / c.channels;
        EXPECT_NEAR(frames, seconds * c.rate, 2 * 2048.0);
        for (WORD ch = 0; ch < c.channels; ++ch)
            EXPECT_NEAR(test::Frequency(decoded, c.channels, ch, c.rate), 440.0 * (ch == 0 ? 1.0 : 1.5), 5.0)
                << "channel " << ch;

        // Our own reader sees the same header.
        std::unique_ptr<SyncReader> r;
        SyncReader::Create(r);
        ASSERT_EQ(r->Open(std::u16string(file.begin(), file.end())), S_OK);
        for (const auto& t : kTags) {
            WORD stream = 0, len = 0;
            AttrType type{};
            ASSERT_EQ(r->GetAttributeByName(&stream, t.name, &type, nullptr, &len), S_OK) << t.name.size();
            std::vector<BYTE> buf(len + 2, 0);
            len = static_cast<WORD>(buf.size());
            ASSERT_EQ(r->GetAttributeByName(&stream, t.name, &type, buf.data(), &len), S_OK);
            EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(buf.data())), t.value);
        }
    }
}

std::vector<BYTE> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<BYTE>(std::istreambuf_iterator<char>(in), {});
}

QWORD LittleEndian(const std::vector<BYTE>& b, std::size_t at, int size) {
    QWORD v = 0;
    for (int i = size - 1; i >= 0; --i) v = (v << 8) | b.at(at + i);
    return v;
}

// Two "Author" attributes and a picture of 100000 bytes (more than a 16-bit
// length holds) reach mutagen and our reader; FFmpeg, which takes one value
// per name, shows the first; and the header rewrite leaves the rest of the
// file as FFmpeg wrote it, with the sizes right.
TEST(MediaWriter, RepeatedAndLargeAttributesReachOtherReaders) {
    KIV_REQUIRE_TOOL("ffprobe");
    KIV_REQUIRE_TOOL("ffmpeg");
    TempDir dir;
    auto profile = test::BuildProfile(false, 128000, 2, 44100);
    ASSERT_TRUE(profile);
    auto input = test::PcmFormat(2, 44100);
    auto pcm = test::Sine(2.0, 44100, 2);
    // WM/Picture: type, 32-bit length, MIME type and description with their
    // zeros, the data.
    std::vector<BYTE> picture = {3, 0xA0, 0x86, 0x01, 0x00};
    for (const auto& text : {test::WideBytes(u"image/png"), test::WideBytes(u"Cover")})
        picture.insert(picture.end(), text.begin(), text.end());
    for (int i = 0; i < 100000; ++i) picture.push_back(static_cast<BYTE>(i * 31 + i / 256));
    const auto second = test::WideBytes(u"Second");

    auto write = [&](const std::string& file, const std::function<HRESULT(Writer&)>& attributes) {
        Writer w;
        ASSERT_EQ(StartWriter(w, *profile, file, input, attributes), S_OK);
        ASSERT_EQ(Feed(w, reinterpret_cast<const BYTE*>(pcm.data()), pcm.size() * 2, input.nAvgBytesPerSec), S_OK);
        ASSERT_EQ(w.EndWriting(), S_OK);
    };
    const std::string tagged = dir.File("tagged.wma"), bare = dir.File("bare.wma");
    write(tagged, [&](Writer& w) {
        if (HRESULT hr = SetTestTags(w); FAILED(hr)) return hr;
        if (HRESULT hr = w.AddAttribute(0, u"Author", nullptr, AttrType::String, second.data(), DWORD(second.size()));
            FAILED(hr))
            return hr;
        return w.AddAttribute(0, u"WM/Picture", nullptr, AttrType::Binary, picture.data(), DWORD(picture.size()));
    });
    write(bare, [](Writer&) { return S_OK; });

    // The data and what follows it are FFmpeg's, byte for byte, behind
    // headers of their own sizes; the file properties know the new size.
    for (const std::string& file : {tagged, bare}) {
        const auto bytes = FileBytes(file);
        const QWORD header = LittleEndian(bytes, 16, 8);
        ASSERT_LT(header, bytes.size());
        EXPECT_EQ(LittleEndian(bytes, 30 + 40, 8), bytes.size()) << file;
    }
    const auto a = FileBytes(tagged), b = FileBytes(bare);
    EXPECT_GT(LittleEndian(a, 16, 8), LittleEndian(b, 16, 8) + picture.size());
    EXPECT_TRUE(std::equal(a.begin() + std::ptrdiff_t(LittleEndian(a, 16, 8)), a.end(),
                           b.begin() + std::ptrdiff_t(LittleEndian(b, 16, 8)), b.end()));
    const auto pcmTagged = test::DecodeWithFfmpeg(tagged);
    EXPECT_GT(pcmTagged.size(), 44100u * 2 * 2 - 4096);
    EXPECT_TRUE(pcmTagged == test::DecodeWithFfmpeg(bare)) << "ffmpeg decodes the same samples";
    auto info = test::Probe(tagged);
    EXPECT_EQ(info["TAG:artist"], "Jeanne") << "a reader of one value per name sees the first";
    EXPECT_EQ(info["TAG:title"], "Le Tourbillon");

    if (test::Run("/usr/bin/python3 -c 'import mutagen'").status == 0) {
        const std::string saved = dir.File("picture.bin");
        auto r = test::Run("/usr/bin/python3 -c \"import sys; from mutagen.asf import ASF; t = ASF(sys.argv[1]).tags; "
                           "print('|'.join(str(v) for v in t['Author'])); print(len(t['WM/Picture'])); "
                           "open(sys.argv[2], 'wb').write(t['WM/Picture'][0].value)\" '" + tagged + "' '" + saved + "'");
        ASSERT_EQ(r.status, 0) << r.output;
        EXPECT_EQ(r.output, "Jeanne|Second\n1\n");
        EXPECT_TRUE(FileBytes(saved) == picture) << "mutagen reads the picture byte for byte";
    }

    std::unique_ptr<SyncReader> reader;
    SyncReader::Create(reader);
    ASSERT_EQ(reader->Open(std::u16string(tagged.begin(), tagged.end())), S_OK);
    std::vector<WORD> authors, pictures;
    ASSERT_EQ(reader->GetAttributeIndices(0, u"Author", authors), S_OK);
    ASSERT_EQ(reader->GetAttributeIndices(0, u"WM/Picture", pictures), S_OK);
    ASSERT_EQ(authors.size(), 2u);
    ASSERT_EQ(pictures.size(), 1u);
    std::vector<BYTE> value(picture.size());
    AttrType type{};
    DWORD length = DWORD(value.size());
    ASSERT_EQ(reader->GetAttributeByIndexEx(0, authors[1], nullptr, &type, value.data(), &length), S_OK);
    EXPECT_EQ(std::vector<BYTE>(value.begin(), value.begin() + length), second);
    length = DWORD(value.size());
    ASSERT_EQ(reader->GetAttributeByIndexEx(0, pictures[0], nullptr, &type, value.data(), &length), S_OK);
    EXPECT_EQ(type, AttrType::Binary);
    EXPECT_TRUE(value == picture);
}

TEST(MediaWriter, InputIsConvertedToTheStreamFormat) {
    KIV_REQUIRE_TOOL("ffmpeg");
    TempDir dir;
    // 8-bit mono at 22050 Hz into a 44.1 kHz stereo stream.
    auto profile = test::BuildProfile(false, 128000, 2, 44100);
    ASSERT_TRUE(profile);
    auto input = test::PcmFormat(1, 22050, 8);
    auto wide = test::Sine(2.0, 22050, 1, 1000.0);
    std::vector<BYTE> pcm(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) pcm[i] = static_cast<BYTE>((wide[i] >> 8) + 128);
    std::string file = dir.File("converted.wma");
    Writer w;
    ASSERT_EQ(StartWriter(w, *profile, file, input), S_OK);
    ASSERT_EQ(Feed(w, pcm.data(), pcm.size(), input.nAvgBytesPerSec), S_OK);
    ASSERT_EQ(w.EndWriting(), S_OK);
    auto decoded = test::DecodeWithFfmpeg(file);
    EXPECT_NEAR(decoded.size() / 2.0, 2.0 * 44100, 2 * 2048.0);
    EXPECT_NEAR(test::Frequency(decoded, 2, 0, 44100), 1000.0, 10.0);
    EXPECT_NEAR(test::Frequency(decoded, 2, 1, 44100), 1000.0, 10.0);
}

TEST(MediaWriter, OutputFailuresAreReportedNotSwallowed) {
    TempDir dir;
    auto profile = test::BuildProfile(false, 128000, 2, 44100);
    ASSERT_TRUE(profile);
    auto input = test::PcmFormat(2, 44100);
    auto pcm = test::Sine(5.0, 44100, 2);
    struct Case {
        const char* label;
        std::string path;
        HRESULT expected;
    } cases[] = {
        {"full disk", "/dev/full", HRESULT_FROM_WIN32(ENOSPC)},
        {"missing folder", dir.File("no/such/folder/x.wma"), HRESULT_FROM_WIN32(ENOENT)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Writer w;
        std::vector<HRESULT> reported;
        ASSERT_EQ(w.Advise([&](Status s, HRESULT hr) { if (s == Status::Error) reported.push_back(hr); }, nullptr), S_OK);
        // The first failing step ends the stream; every later step keeps
        // failing and nothing reports success.
        HRESULT hr = StartWriter(w, *profile, c.path, input);
        if (SUCCEEDED(hr)) hr = Feed(w, reinterpret_cast<const BYTE*>(pcm.data()), pcm.size() * 2, input.nAvgBytesPerSec);
        HRESULT end = w.EndWriting();
        EXPECT_EQ(hr, c.expected);
        EXPECT_TRUE(FAILED(end));
        ASSERT_FALSE(reported.empty());
        EXPECT_EQ(reported.front(), c.expected);
    }
}

TEST(MediaWriter, RefusesCallsOutOfOrderAndUnusableFormats) {
    Writer w;
    SampleBuffer s(4);
    EXPECT_EQ(w.WriteSample(0, 0, 0, s), NS_E_INVALID_REQUEST);
    EXPECT_EQ(w.BeginWriting(), NS_E_INVALID_REQUEST);
    EXPECT_EQ(w.EndWriting(), NS_E_INVALID_REQUEST);
    std::unique_ptr<MediaProps> props;
    EXPECT_EQ(w.GetInputProps(0, props), NS_E_INVALID_REQUEST);

    // A PCM stream cannot be the output.
    Profile pcmProfile(WMT_VER_9_0);
    StreamConfig pcmStream(WMMEDIATYPE_Audio);
    pcmStream.SetStreamNumber(1);
    pcmStream.SetMediaType(MediaType::ForWaveFormat(WMMEDIASUBTYPE_PCM, test::PcmFormat(2, 44100)));
    pcmProfile.AddStream(pcmStream);
    EXPECT_EQ(w.SetProfile(pcmProfile), NS_E_INVALID_OUTPUT_FORMAT);
    EXPECT_EQ(w.SetProfile(Profile(WMT_VER_9_0)), NS_E_INVALID_OUTPUT_FORMAT);

    auto profile = test::BuildProfile(false, 128000, 2, 44100);
    ASSERT_EQ(w.SetProfile(*profile), S_OK);
    for (WAVEFORMATEX bad : {test::PcmFormat(3, 44100), test::PcmFormat(2, 44100, 24), test::PcmFormat(2, 44100, 12)}) {
        EXPECT_EQ(w.SetInputProps(0, MediaProps(MediaType::ForWaveFormat(WMMEDIASUBTYPE_PCM, bad))),
                  NS_E_INVALID_INPUT_FORMAT);
    }
}

}  // namespace
}  // namespace kiv::media
