// lame_enc.so as the MP3 component drives it: loaded by path, every entry
// point resolved, streams encoded chunk by chunk into files that the
// reference decoders then read.

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <sstream>

#include "runtime/lame_enc/lame_enc.h"
#include "tests/runtime/lame_enc/mp3_test_support.h"

using namespace kiv;
using namespace kiv::lame_enc;

namespace {

struct Api {
    PFN_beInitStream init = nullptr;
    PFN_beEncodeChunk encode = nullptr;
    PFN_beDeinitStream deinit = nullptr;
    PFN_beCloseStream close = nullptr;
    PFN_beVersion version = nullptr;
    PFN_beWriteVBRHeader writeHeader = nullptr;
};

class LameEncTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(lib_.Loaded()) << dlerror();
        api_.init = lib_.Find<PFN_beInitStream>(kInitStreamName);
        api_.encode = lib_.Find<PFN_beEncodeChunk>(kEncodeChunkName);
        api_.deinit = lib_.Find<PFN_beDeinitStream>(kDeinitStreamName);
        api_.close = lib_.Find<PFN_beCloseStream>(kCloseStreamName);
        api_.version = lib_.Find<PFN_beVersion>(kVersionName);
        api_.writeHeader = lib_.Find<PFN_beWriteVBRHeader>(kWriteVBRHeaderName);
        ASSERT_TRUE(api_.init && api_.encode && api_.deinit && api_.close && api_.version && api_.writeHeader);
    }

    // Encodes `pcm` into `path` the way the component does: one call per
    // chunk (or per `chunk` samples when given), the flushed tail, close,
    // then an ID3v1 tag when asked, and last the VBR header.
    void EncodeToFile(BE_CONFIG config, const std::vector<std::int16_t>& pcm, const std::string& path,
                      bool id3v1 = true, DWORD chunk = 0) {
        DWORD samplesPerChunk = 0;
        DWORD bufferSize = 0;
        HBE_STREAM stream = 0;
        ASSERT_EQ(api_.init(&config, &samplesPerChunk, &bufferSize, &stream), BE_ERR_SUCCESSFUL);
        ASSERT_GT(samplesPerChunk, 0u);
        ASSERT_LE(samplesPerChunk, 32768u);  // the component reads at most 65536 bytes per call
        if (chunk == 0) chunk = samplesPerChunk;
        std::vector<std::uint8_t> out(bufferSize);
        std::vector<std::uint8_t> file;
        for (std::size_t pos = 0; pos < pcm.size();) {
            const DWORD n = static_cast<DWORD>(std::min<std::size_t>(chunk, pcm.size() - pos));
            DWORD produced = 0;
            ASSERT_EQ(api_.encode(stream, n, pcm.data() + pos, out.data(), &produced), BE_ERR_SUCCESSFUL);
            ASSERT_LE(produced, bufferSize);
            file.insert(file.end(), out.begin(), out.begin() + produced);
            pos += n;
        }
        DWORD produced = 0;
        ASSERT_EQ(api_.deinit(stream, out.data(), &produced), BE_ERR_SUCCESSFUL);
        file.insert(file.end(), out.begin(), out.begin() + produced);
        ASSERT_EQ(api_.close(stream), BE_ERR_SUCCESSFUL);
        if (id3v1) {
            std::vector<std::uint8_t> tag(128, 0);
            std::memcpy(tag.data(), "TAGtitle", 8);
            file.insert(file.end(), tag.begin(), tag.end());
        }
        ASSERT_TRUE(mp3test::WriteFile(path, file));
    }

    mp3test::Library lib_{std::string(ONDALO_BUILD_DIR) + "/lib/" + kLibraryFileName};
    Api api_;
    mp3test::TempDir dir_;
};

BE_CONFIG LameRecord(DWORD rate, LONG mode, DWORD kbps, LONG preset, DWORD abrBps, BOOL vbrHeader) {
    BE_CONFIG c;
    std::memset(&c, 0, sizeof c);
    c.dwConfig = BE_CONFIG_LAME;
    c.format.LHV1.dwStructVersion = 1;
    c.format.LHV1.dwStructSize = sizeof(BE_CONFIG);
    c.format.LHV1.dwSampleRate = rate;
    c.format.LHV1.nMode = mode;
    c.format.LHV1.dwBitrate = kbps;
    c.format.LHV1.nPreset = preset;
    c.format.LHV1.dwMpegVersion = MPEG1;
    c.format.LHV1.bOriginal = 1;
    c.format.LHV1.dwVbrAbr_bps = abrBps;
    c.format.LHV1.bWriteVBRHeader = vbrHeader;
    return c;
}

std::map<std::string, std::string> FfprobeStream(const std::string& path) {
    std::string out;
    std::map<std::string, std::string> values;
    if (mp3test::Run({"ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                      "stream=codec_name,sample_rate,channels,duration,start_time", "-of", "default=noprint_wrappers=1", path},
                     out) != 0) {
        return values;
    }
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
}

struct EncodeCase {
    const char* name;
    int rate;
    int channels;
    BE_CONFIG config;
    const char* header;  // expected "Xing", "Info", or "" for none
    double minSnrDb;
    DWORD chunk;         // samples per encode call; 0 = what the library asks for
};

void PrintTo(const EncodeCase& c, std::ostream* os) { *os << c.name; }

class LameEncEncodeTest : public LameEncTest, public ::testing::WithParamInterface<EncodeCase> {};

// Records as the component fills them for its output modes.
const EncodeCase kEncodeCases[] = {
    {"cbr128_stereo", 44100, 2, LameRecord(44100, BE_MP3_MODE_STEREO, 128, LQP_CBR, 0, 0), "", 20, 0},
    {"cbr64_joint_with_info", 44100, 2, LameRecord(44100, BE_MP3_MODE_JSTEREO, 64, LQP_NORMAL_QUALITY, 0, 1),
     "Info", 12, 0},
    {"abr192_stereo", 44100, 2, LameRecord(44100, BE_MP3_MODE_STEREO, 0, LQP_ABR, 192000, 1), "Xing", 20, 0},
    {"vbr_standard_stereo", 44100, 2, LameRecord(44100, BE_MP3_MODE_STEREO, 0, LQP_STANDARD, 0, 1), "Xing", 20,
     0},
    // Odd call sizes leave half a sample frame between calls.
    {"vbr_standard_odd_chunks", 44100, 2, LameRecord(44100, BE_MP3_MODE_STEREO, 0, LQP_STANDARD, 0, 1), "Xing",
     20, 1001},
    // (At 32 kbps and below a 22050 Hz frame is too small for the tag, and
    // libmp3lame writes none.)
    {"cbr64_mono_22050", 22050, 1, LameRecord(22050, BE_MP3_MODE_MONO, 64, LQP_NORMAL_QUALITY, 0, 1), "Info", 12,
     0},
    {"vbr_medium_mono_22050", 22050, 1, LameRecord(22050, BE_MP3_MODE_MONO, 0, LQP_MEDIUM, 0, 1), "Xing", 12, 0},
    // The top quality preset is 320 kbps CBR, more than 8000 Hz allows.
    {"vbr_insane_mono_8000", 8000, 1, LameRecord(8000, BE_MP3_MODE_MONO, 0, LQP_INSANE, 0, 1), "Info", 12, 0},
};

INSTANTIATE_TEST_SUITE_P(Modes, LameEncEncodeTest, ::testing::ValuesIn(kEncodeCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(LameEncEncodeTest, FileDecodesWithRightFormatLengthAndHeader) {
    const EncodeCase& c = GetParam();
    // Not a whole number of frames, so delay and padding both matter.
    const std::size_t frames = static_cast<std::size_t>(c.rate) * 2 + 777;
    const std::vector<std::int16_t> pcm = mp3test::Sine(frames, c.rate, c.channels);
    const std::string path = dir_.File("out.mp3");
    EncodeToFile(c.config, pcm, path, true, c.chunk);
    if (HasFatalFailure()) return;

    const BE_ERR headerResult = api_.writeHeader(path.c_str());
    const std::vector<std::uint8_t> file = mp3test::ReadFile(path);
    const std::optional<mp3test::FirstFrame> first = mp3test::ParseFirstFrame(file, 0);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->layer, 3);
    EXPECT_EQ(first->sampleRate, c.rate);
    EXPECT_EQ(first->channels, c.channels);
    EXPECT_EQ(first->tagId, c.header);
    if (*c.header != '\0') {
        EXPECT_EQ(headerResult, BE_ERR_SUCCESSFUL);
        // The tag must count the audio exactly: every byte up to the ID3v1
        // tag, and frames that hold delay + input + padding.
        EXPECT_EQ(first->bytes, file.size() - 128);
        ASSERT_EQ(first->encoder.substr(0, 4), "LAME");
        EXPECT_GT(first->delay, 0);
        EXPECT_GE(first->padding, 0);
        EXPECT_EQ(static_cast<std::size_t>(first->delay) + frames + static_cast<std::size_t>(first->padding),
                  static_cast<std::size_t>(first->frames) * static_cast<std::size_t>(first->samplesPerFrame));
    } else {
        // Nothing to write into a stream that reserved no header frame; the
        // file must be left as it was.
        EXPECT_NE(headerResult, BE_ERR_SUCCESSFUL);
    }

    if (!mp3test::ToolAvailable("mpg123")) GTEST_SKIP() << "mpg123 not installed";
    std::string decodedBytes;
    ASSERT_EQ(mp3test::Run({"mpg123", "-q", "-s", path}, decodedBytes), 0);
    const std::vector<std::int16_t> decoded = mp3test::AsSamples(decodedBytes);
    if (*c.header != '\0') {
        // The decoder trims delay and padding from the LAME tag: what comes
        // out lines up with what went in, sample for sample.
        EXPECT_EQ(decoded.size(), pcm.size());
        EXPECT_GT(mp3test::SnrDb(pcm, decoded), c.minSnrDb);
    } else {
        EXPECT_GE(decoded.size(), pcm.size());
        EXPECT_LE(decoded.size(), pcm.size() + static_cast<std::size_t>(3 * 1152 * c.channels));
    }

    if (!mp3test::ToolAvailable("ffprobe")) GTEST_SKIP() << "ffprobe not installed";
    std::map<std::string, std::string> probe = FfprobeStream(path);
    EXPECT_EQ(probe["codec_name"], "mp3");
    EXPECT_EQ(probe["sample_rate"], std::to_string(c.rate));
    EXPECT_EQ(probe["channels"], std::to_string(c.channels));
    ASSERT_FALSE(probe["duration"].empty());
    const double frameSeconds = static_cast<double>(first->samplesPerFrame) / c.rate;
    const double duration = std::stod(probe["duration"]);
    if (*c.header != '\0') {
        // ffprobe takes the frame count from the header and the start from
        // the LAME tag's encoder delay plus the decoder's own 529 samples.
        EXPECT_NEAR(duration, first->frames * frameSeconds, 0.001);
        ASSERT_FALSE(probe["start_time"].empty());
        EXPECT_NEAR(std::stod(probe["start_time"]), static_cast<double>(first->delay + 529) / c.rate, 0.0001);
        EXPECT_NEAR(duration - std::stod(probe["start_time"]), static_cast<double>(frames) / c.rate, frameSeconds);
    } else {
        // Without a header both tools count the frames themselves.
        const double decodedSeconds = static_cast<double>(decoded.size()) / c.channels / c.rate;
        EXPECT_NEAR(duration, decodedSeconds, frameSeconds);
    }
}

TEST_F(LameEncTest, ConstantBitrateFramesCarryTheRequestedBitrate) {
    if (!mp3test::ToolAvailable("ffprobe")) GTEST_SKIP() << "ffprobe not installed";
    const struct {
        BE_CONFIG config;
        int rate;
        int channels;
        const char* bitRate;
    } cases[] = {
        {LameRecord(44100, BE_MP3_MODE_STEREO, 128, LQP_CBR, 0, 0), 44100, 2, "128000"},
        {LameRecord(44100, BE_MP3_MODE_STEREO, 256, LQP_CBR, 0, 0), 44100, 2, "256000"},
        {LameRecord(22050, BE_MP3_MODE_MONO, 32, LQP_NORMAL_QUALITY, 0, 0), 22050, 1, "32000"},
    };
    for (const auto& c : cases) {
        const std::string path = dir_.File("cbr.mp3");
        EncodeToFile(c.config, mp3test::Sine(static_cast<std::size_t>(c.rate), c.rate, c.channels), path, false);
        std::string out;
        ASSERT_EQ(mp3test::Run({"ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                                "stream=bit_rate", "-of", "default=noprint_wrappers=1:nokey=1", path},
                               out),
                  0);
        EXPECT_EQ(out.substr(0, out.find('\n')), c.bitRate);
    }
}

// The component writes the VBR header after closing the file; by then other
// streams may have finished too, and the file may already carry tags.
TEST_F(LameEncTest, HeaderGoesToTheRightFileWhateverTheOrderAndLeadingTag) {
    const std::vector<std::int16_t> a = mp3test::Sine(44100 + 100, 44100, 2);
    const std::vector<std::int16_t> b = mp3test::Sine(22050 * 3 + 5, 22050, 1);
    const std::string pathA = dir_.File("a.mp3");
    const std::string pathB = dir_.File("b.mp3");
    EncodeToFile(LameRecord(44100, BE_MP3_MODE_STEREO, 0, LQP_STANDARD, 0, 1), a, pathA);
    EncodeToFile(LameRecord(22050, BE_MP3_MODE_MONO, 0, LQP_ABR, 64000, 1), b, pathB);
    if (HasFatalFailure()) return;

    // An ID3v2 tag of 2000 bytes (2010 with its header) in front of b.
    std::vector<std::uint8_t> tagged = {'I', 'D', '3', 3, 0, 0, 0, 0, 0x0F, 0x50};
    tagged.resize(2010, 0);
    const std::vector<std::uint8_t> audioB = mp3test::ReadFile(pathB);
    tagged.insert(tagged.end(), audioB.begin(), audioB.end());
    ASSERT_TRUE(mp3test::WriteFile(pathB, tagged));

    // A file no stream produced is left untouched.
    const std::string stranger = dir_.File("stranger.mp3");
    std::vector<std::uint8_t> strangerBytes = mp3test::ReadFile(pathA);
    strangerBytes[strangerBytes.size() / 2] ^= 0x55;
    ASSERT_TRUE(mp3test::WriteFile(stranger, strangerBytes));
    EXPECT_NE(api_.writeHeader(stranger.c_str()), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(mp3test::ReadFile(stranger), strangerBytes);

    EXPECT_EQ(api_.writeHeader(pathB.c_str()), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(api_.writeHeader(pathA.c_str()), BE_ERR_SUCCESSFUL);
    // Each header is handed out once.
    EXPECT_NE(api_.writeHeader(pathA.c_str()), BE_ERR_SUCCESSFUL);
    EXPECT_NE(api_.writeHeader(dir_.File("missing.mp3").c_str()), BE_ERR_SUCCESSFUL);

    const struct {
        std::string path;
        std::size_t offset;
        std::size_t frames;
        int rate;
    } files[] = {{pathA, 0, a.size() / 2, 44100}, {pathB, 2010, b.size(), 22050}};
    for (const auto& f : files) {
        const std::vector<std::uint8_t> bytes = mp3test::ReadFile(f.path);
        const std::optional<mp3test::FirstFrame> first = mp3test::ParseFirstFrame(bytes, f.offset);
        ASSERT_TRUE(first) << f.path;
        EXPECT_EQ(first->tagId, "Xing") << f.path;
        EXPECT_EQ(first->sampleRate, f.rate);
        EXPECT_EQ(first->bytes, bytes.size() - f.offset - 128) << f.path;
        EXPECT_EQ(static_cast<std::size_t>(first->delay + first->padding) + f.frames,
                  std::size_t{first->frames} * static_cast<std::size_t>(first->samplesPerFrame))
            << f.path;
    }
    if (!mp3test::ToolAvailable("mpg123")) GTEST_SKIP() << "mpg123 not installed";
    std::string out;
    ASSERT_EQ(mp3test::Run({"mpg123", "-q", "-s", pathB}, out), 0);
    EXPECT_EQ(out.size(), b.size() * 2);
}

TEST_F(LameEncTest, BadRecordsAreRefused) {
    auto with = [](auto change) {
        BE_CONFIG c = LameRecord(44100, BE_MP3_MODE_STEREO, 128, LQP_CBR, 0, 0);
        change(c);
        return c;
    };
    const struct {
        const char* name;
        BE_CONFIG config;
    } cases[] = {
        {"unknown layout", with([](BE_CONFIG& c) { c.dwConfig = 7; })},
        {"short record", with([](BE_CONFIG& c) { c.format.LHV1.dwStructSize = 100; })},
        {"struct version 0", with([](BE_CONFIG& c) { c.format.LHV1.dwStructVersion = 0; })},
        {"no sample rate", with([](BE_CONFIG& c) { c.format.LHV1.dwSampleRate = 0; })},
        {"unknown mode", with([](BE_CONFIG& c) { c.format.LHV1.nMode = 9; })},
        {"unknown preset", with([](BE_CONFIG& c) { c.format.LHV1.nPreset = 99; })},
        {"CBR preset without bitrate", with([](BE_CONFIG& c) { c.format.LHV1.dwBitrate = 0; })},
        {"CBR bitrate out of range", with([](BE_CONFIG& c) { c.format.LHV1.dwBitrate = 1000; })},
        {"ABR preset without bitrate", with([](BE_CONFIG& c) { c.format.LHV1.nPreset = LQP_ABR; })},
        {"VBR quality out of range", with([](BE_CONFIG& c) {
             c.format.LHV1.nPreset = LQP_NOPRESET;
             c.format.LHV1.bEnableVBR = 1;
             c.format.LHV1.nVBRQuality = 12;
         })},
    };
    for (const auto& c : cases) {
        BE_CONFIG config = c.config;
        DWORD samples = 0;
        DWORD size = 0;
        HBE_STREAM stream = 0;
        EXPECT_NE(api_.init(&config, &samples, &size, &stream), BE_ERR_SUCCESSFUL) << c.name;
        EXPECT_EQ(stream, 0u) << c.name;
    }
    DWORD samples = 0;
    DWORD size = 0;
    HBE_STREAM stream = 0;
    EXPECT_EQ(api_.init(nullptr, &samples, &size, &stream), BE_ERR_INVALID_FORMAT_PARAMETERS);
}

TEST_F(LameEncTest, StreamHandlesAreCheckedAndNotReused) {
    BE_CONFIG config = LameRecord(44100, BE_MP3_MODE_STEREO, 128, LQP_CBR, 0, 0);
    DWORD samplesPerChunk = 0;
    DWORD bufferSize = 0;
    HBE_STREAM stream = 0;
    ASSERT_EQ(api_.init(&config, &samplesPerChunk, &bufferSize, &stream), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(samplesPerChunk, 2304u);  // one MPEG-1 frame of two channels
    std::vector<std::uint8_t> out(bufferSize);
    std::vector<std::int16_t> pcm(samplesPerChunk + 2, 0);
    DWORD produced = 0;

    EXPECT_EQ(api_.encode(stream + 1000, 4, pcm.data(), out.data(), &produced), BE_ERR_INVALID_HANDLE);
    // More samples than one call may take would overrun the caller's buffer.
    EXPECT_NE(api_.encode(stream, samplesPerChunk + 2, pcm.data(), out.data(), &produced), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(api_.encode(stream, samplesPerChunk, pcm.data(), out.data(), nullptr),
              BE_ERR_INVALID_FORMAT_PARAMETERS);
    EXPECT_EQ(api_.encode(stream, samplesPerChunk, pcm.data(), out.data(), &produced), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(api_.deinit(stream, out.data(), &produced), BE_ERR_SUCCESSFUL);
    // A finished stream takes no more samples and no second flush.
    EXPECT_NE(api_.encode(stream, samplesPerChunk, pcm.data(), out.data(), &produced), BE_ERR_SUCCESSFUL);
    EXPECT_NE(api_.deinit(stream, out.data(), &produced), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(api_.close(stream), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(api_.close(stream), BE_ERR_INVALID_HANDLE);
    EXPECT_EQ(api_.deinit(stream, out.data(), &produced), BE_ERR_INVALID_HANDLE);

    HBE_STREAM second = 0;
    ASSERT_EQ(api_.init(&config, &samplesPerChunk, &bufferSize, &second), BE_ERR_SUCCESSFUL);
    EXPECT_NE(second, stream);
    EXPECT_EQ(api_.close(second), BE_ERR_SUCCESSFUL);
}

TEST_F(LameEncTest, VersionNamesTheEngine) {
    BE_VERSION v;
    std::memset(&v, 0xAB, sizeof v);
    api_.version(&v);
    EXPECT_EQ(v.byMajorVersion, 3);  // libmp3lame 3.x
    EXPECT_EQ(std::string(v.zHomepage).rfind("http", 0), 0u);
    EXPECT_LE(std::strlen(v.zHomepage), BE_MAX_HOMEPAGE);
    EXPECT_EQ(v.btReserved[0], 0);
}

}  // namespace
