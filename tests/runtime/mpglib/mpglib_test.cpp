// mpglib.so as the MP3 component drives it: loaded by path, every entry
// point resolved, files made by the reference encoder fed in pieces, and the
// PCM compared with what the reference decoder makes of the same files.

#include <gtest/gtest.h>

#include <cstring>

#include "runtime/mpglib/mpglib.h"
#include "tests/runtime/lame_enc/mp3_test_support.h"

using namespace kiv::mpglib;

namespace {

class MpglibTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(lib_.Loaded()) << dlerror();
        init_ = lib_.Find<PFN_InitMP3>(kInitName);
        decode_ = lib_.Find<PFN_decodeMP3>(kDecodeName);
        decodeLower_ = lib_.Find<PFN_decodeMP3>(kDecodeNameLower);
        exit_ = lib_.Find<PFN_ExitMP3>(kExitName);
        ASSERT_TRUE(init_ && decode_ && decodeLower_ && exit_);
    }

    // A fresh state record, zero-filled as the component prepares it.
    MPSTR FreshState() {
        MPSTR state;
        std::memset(&state, 0, sizeof state);
        EXPECT_NE(init_(&state), 0);
        return state;
    }

    // The component's loop: new input only after the library asked for it,
    // otherwise a call without input; stop when the file is used up and
    // the library wants more.
    std::string DecodeAll(const std::vector<std::uint8_t>& mp3, std::size_t inputChunk, int outputSize,
                          std::size_t* largestCall = nullptr) {
        MPSTR state = FreshState();
        std::string pcm;
        std::vector<char> out(static_cast<std::size_t>(outputSize));
        std::size_t pos = 0;
        int last = MP3_NEED_MORE;
        for (;;) {
            int done = 0;
            if (last != MP3_OK) {
                if (pos >= mp3.size()) break;
                const std::size_t n = std::min(inputChunk, mp3.size() - pos);
                last = decode_(&state, mp3.data() + pos, static_cast<int>(n), out.data(), outputSize, &done);
                pos += n;
            } else {
                last = decode_(&state, nullptr, 0, out.data(), outputSize, &done);
            }
            EXPECT_NE(last, MP3_ERR) << "at input byte " << pos;
            if (last == MP3_ERR) break;
            EXPECT_TRUE(last == MP3_OK || done == 0);
            EXPECT_LE(done, outputSize);
            if (largestCall != nullptr) *largestCall = std::max(*largestCall, static_cast<std::size_t>(done));
            pcm.append(out.data(), static_cast<std::size_t>(done));
        }
        exit_(&state);
        return pcm;
    }

    mp3test::Library lib_{std::string(ONDALO_BUILD_DIR) + "/lib/" + kLibraryFileName};
    PFN_InitMP3 init_ = nullptr;
    PFN_decodeMP3 decode_ = nullptr;
    PFN_decodeMP3 decodeLower_ = nullptr;
    PFN_ExitMP3 exit_ = nullptr;
    mp3test::TempDir dir_;
};

struct Fixture {
    const char* name;
    int rate;
    int channels;
    std::vector<std::string> lameOptions;
};

const Fixture kFixtures[] = {
    {"cbr128_stereo", 44100, 2, {"-b", "128"}},
    {"vbr_standard_stereo", 44100, 2, {"--preset", "standard"}},
    {"vbr_mono_22050", 22050, 1, {"-V", "5", "-m", "m"}},
};

struct DecodeCase {
    std::size_t fixture;
    std::size_t inputChunk;
    int outputSize;
};

void PrintTo(const DecodeCase& c, std::ostream* os) {
    *os << kFixtures[c.fixture].name << " in " << c.inputChunk << " out " << c.outputSize;
}

class MpglibDecodeTest : public MpglibTest, public ::testing::WithParamInterface<DecodeCase> {};

INSTANTIATE_TEST_SUITE_P(Feeds, MpglibDecodeTest,
                         ::testing::Values(DecodeCase{0, 512, 16384},   // the component's own feed
                                           DecodeCase{0, 7, 16384},     // headers split across calls
                                           DecodeCase{1, 512, 16384}, DecodeCase{1, 65536, 16384},
                                           DecodeCase{2, 512, 16384},
                                           DecodeCase{2, 333, 1000}),   // frames larger than the area
                         [](const auto& info) {
                             return std::string(kFixtures[info.param.fixture].name) + "_in" +
                                    std::to_string(info.param.inputChunk) + "_out" +
                                    std::to_string(info.param.outputSize);
                         });

TEST_P(MpglibDecodeTest, OutputMatchesReferenceDecoderWithoutGapTrimming) {
    for (const char* tool : {"lame", "mpg123"}) {
        if (!mp3test::ToolAvailable(tool)) GTEST_SKIP() << tool << " not installed";
    }
    const Fixture& f = kFixtures[GetParam().fixture];
    const std::string wav = dir_.File("in.wav");
    const std::string mp3 = dir_.File("in.mp3");
    const std::size_t frames = static_cast<std::size_t>(f.rate) * 2 + 321;
    ASSERT_TRUE(mp3test::WriteWav(wav, mp3test::Sine(frames, f.rate, f.channels), f.rate, f.channels));
    std::vector<std::string> argv = {"lame", "--quiet"};
    argv.insert(argv.end(), f.lameOptions.begin(), f.lameOptions.end());
    argv.insert(argv.end(), {wav, mp3});
    std::string ignored;
    ASSERT_EQ(mp3test::Run(argv, ignored), 0);

    std::string reference;
    ASSERT_EQ(mp3test::Run({"mpg123", "-q", "--no-gapless", "-s", mp3}, reference), 0);
    ASSERT_FALSE(reference.empty());

    const std::vector<std::uint8_t> bytes = mp3test::ReadFile(mp3);
    std::size_t largestCall = 0;
    const std::string pcm = DecodeAll(bytes, GetParam().inputChunk, GetParam().outputSize, &largestCall);
    EXPECT_EQ(pcm.size(), reference.size());
    EXPECT_TRUE(pcm == reference) << "decoded samples differ from mpg123's";
    // One frame per call at most: 1152 (MPEG-1) or 576 sample frames.
    const std::optional<mp3test::FirstFrame> first = mp3test::ParseFirstFrame(bytes, 0);
    ASSERT_TRUE(first);
    EXPECT_LE(largestCall, static_cast<std::size_t>(first->samplesPerFrame * f.channels * 2));
    if (!first->tagId.empty()) {
        // Whole frames, as many as the header counts: the length the
        // component derives its duration from.
        EXPECT_EQ(pcm.size(), std::size_t{first->frames} * static_cast<std::size_t>(first->samplesPerFrame) *
                                  static_cast<std::size_t>(f.channels) * 2);
    }
}

TEST_F(MpglibTest, GarbageNeverProducesOutputAndStateCanStartAfresh) {
    std::vector<std::uint8_t> garbage;
    const std::string text = "not an mpeg stream, just text. ";
    while (garbage.size() < 65536) garbage.insert(garbage.end(), text.begin(), text.end());
    // Zeros and a lone sync word that leads nowhere.
    garbage.insert(garbage.end(), 4096, 0);
    garbage.insert(garbage.end(), {0xFF, 0xFB, 0x90, 0x00});
    garbage.insert(garbage.end(), 1000, 0);

    MPSTR state = FreshState();
    std::vector<char> out(16384);
    for (std::size_t pos = 0; pos < garbage.size(); pos += 512) {
        const int n = static_cast<int>(std::min<std::size_t>(512, garbage.size() - pos));
        int done = -7;
        const int result = decode_(&state, garbage.data() + pos, n, out.data(), 16384, &done);
        ASSERT_TRUE(result == MP3_NEED_MORE || result == MP3_ERR) << result << " at " << pos;
        ASSERT_EQ(done, 0);
        if (result == MP3_ERR) {
            // What the component does after an error: start afresh.
            exit_(&state);
            std::memset(&state, 0, sizeof state);
            ASSERT_NE(init_(&state), 0);
        }
    }
    exit_(&state);
    exit_(&state);  // a second exit finds nothing to release

    // After all that, the same state record decodes a real stream.
    if (!mp3test::ToolAvailable("lame")) GTEST_SKIP() << "lame not installed";
    const std::string wav = dir_.File("s.wav");
    const std::string mp3 = dir_.File("s.mp3");
    ASSERT_TRUE(mp3test::WriteWav(wav, mp3test::Sine(4410, 44100, 2), 44100, 2));
    std::string ignored;
    ASSERT_EQ(mp3test::Run({"lame", "--quiet", "-b", "128", wav, mp3}, ignored), 0);
    std::memset(&state, 0, sizeof state);
    ASSERT_NE(init_(&state), 0);
    const std::vector<std::uint8_t> bytes = mp3test::ReadFile(mp3);
    int done = 0;
    int result = decode_(&state, bytes.data(), static_cast<int>(bytes.size()), out.data(), 16384, &done);
    EXPECT_EQ(result, MP3_OK);
    EXPECT_GT(done, 0);
    exit_(&state);
}

TEST_F(MpglibTest, BadArgumentsGiveAnError) {
    MPSTR state = FreshState();
    std::vector<char> out(4608);
    const unsigned char input[4] = {0xFF, 0xFB, 0x90, 0x00};
    int done = 0;
    MPSTR unprepared;
    std::memset(&unprepared, 0, sizeof unprepared);
    const struct {
        const char* name;
        MPSTR* state;
        const unsigned char* input;
        int inputSize;
        char* output;
        int outputSize;
        int* done;
    } cases[] = {
        {"no state", nullptr, input, 4, out.data(), 4608, &done},
        {"state never initialised", &unprepared, input, 4, out.data(), 4608, &done},
        {"negative input size", &state, input, -1, out.data(), 4608, &done},
        {"input size without input", &state, nullptr, 4, out.data(), 4608, &done},
        {"no output area", &state, input, 4, nullptr, 4608, &done},
        {"empty output area", &state, input, 4, out.data(), 0, &done},
        {"no done counter", &state, input, 4, out.data(), 4608, nullptr},
    };
    for (const auto& c : cases) {
        done = 99;
        EXPECT_EQ(decodeLower_(c.state, c.input, c.inputSize, c.output, c.outputSize, c.done), MP3_ERR) << c.name;
        if (c.done != nullptr) {
            EXPECT_EQ(done, 0) << c.name;
        }
    }
    exit_(&state);
    EXPECT_EQ(decode_(&state, input, 4, out.data(), 4608, &done), MP3_ERR);
    EXPECT_EQ(init_(nullptr), 0);
    exit_(nullptr);
}

}  // namespace
