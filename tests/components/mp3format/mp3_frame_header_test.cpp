#include "components/mp3/format/mp3_frame_header.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace kiv::mp3 {
namespace {

using test::frameWord;

TEST(Mp3FrameHeader, DecodesFields) {
    struct Case {
        const char* name;
        std::uint32_t word;
        MpegVersion version;
        int layer, kbps, rate, channels, length, samples;
    };
    const Case cases[] = {
        {"MPEG-1 L3 128k 44.1k stereo", frameWord(3, 3, 9, 0, false, 0), MpegVersion::mpeg1, 3, 128, 44100, 2, 417, 1152},
        {"same with padding", frameWord(3, 3, 9, 0, true, 1), MpegVersion::mpeg1, 3, 128, 44100, 2, 418, 1152},
        {"MPEG-1 L3 320k 48k mono", frameWord(3, 3, 14, 1, false, 3), MpegVersion::mpeg1, 3, 320, 48000, 1, 960, 1152},
        {"MPEG-2 L3 64k 22.05k", frameWord(2, 3, 8, 0, false, 0), MpegVersion::mpeg2, 3, 64, 22050, 2, 208, 576},
        {"MPEG-2.5 L3 8k 8k mono", frameWord(0, 3, 1, 2, false, 3), MpegVersion::mpeg25, 3, 8, 8000, 1, 72, 576},
        {"MPEG-1 L2 192k 48k", frameWord(3, 2, 10, 1, false, 0), MpegVersion::mpeg1, 2, 192, 48000, 2, 576, 1152},
        {"MPEG-2 L2 64k 24k keeps 1152 samples", frameWord(2, 2, 8, 1, false, 0), MpegVersion::mpeg2, 2, 64, 24000, 2, 384, 1152},
        {"MPEG-1 L1 384k 32k", frameWord(3, 1, 12, 2, true, 0), MpegVersion::mpeg1, 1, 384, 32000, 2, 580, 384},
        {"free format", frameWord(3, 3, 0, 0, false, 0), MpegVersion::mpeg1, 3, 0, 44100, 2, 0, 1152},
    };
    for (const Case& c : cases) {
        const auto h = parseFrameHeader(c.word);
        ASSERT_TRUE(h) << c.name;
        EXPECT_EQ(h->version, c.version) << c.name;
        EXPECT_EQ(h->layer, c.layer) << c.name;
        EXPECT_EQ(h->bitrateKbps, c.kbps) << c.name;
        EXPECT_EQ(h->sampleRate, c.rate) << c.name;
        EXPECT_EQ(h->channels, c.channels) << c.name;
        EXPECT_EQ(h->frameLength(), c.length) << c.name;
        EXPECT_EQ(h->samplesPerFrame(), c.samples) << c.name;
    }
}

TEST(Mp3FrameHeader, RejectsWhatCannotBeAHeader) {
    const std::pair<const char*, std::uint32_t> cases[] = {
        {"sync bits missing", frameWord(3, 3, 9, 0, false, 0) & ~0x00200000u},
        {"reserved version", frameWord(1, 3, 9, 0, false, 0)},
        {"reserved layer", frameWord(3, 3, 9, 0, false, 0) & ~0x00060000u},
        {"bitrate index 15", frameWord(3, 3, 15, 0, false, 0)},
        {"sample-rate index 3", frameWord(3, 3, 9, 3, false, 0)},
    };
    for (const auto& [name, word] : cases) {
        EXPECT_FALSE(isFrameHeaderCandidate(word)) << name;
        EXPECT_FALSE(parseFrameHeader(word)) << name;
    }
}

TEST(Mp3FrameHeader, FreeFormatLengthAndBitrate) {
    const auto h = parseFrameHeader(frameWord(3, 3, 0, 0, true, 0));
    ASSERT_TRUE(h);
    EXPECT_EQ(h->frameLength(1000), 1001);
    EXPECT_EQ(h->bitrateForLength(1000), 306250);  // 1000 * 44100 / 144
    EXPECT_TRUE(continuesStream(*h, frameWord(3, 3, 5, 0, false, 1)));
    EXPECT_FALSE(continuesStream(*h, frameWord(3, 3, 5, 1, false, 1)));  // other rate
    EXPECT_FALSE(continuesStream(*h, frameWord(3, 3, 5, 0, false, 3)));  // mono
}

}  // namespace
}  // namespace kiv::mp3
