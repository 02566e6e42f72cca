#include "components/mp3/format/mp3_scan.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "components/mp3/format/id3v1.h"
#include "components/mp3/format/id3v2_header.h"
#include "components/mp3/format/id3v2_writer.h"
#include "test_support.h"

namespace kiv::mp3 {
namespace {

using test::Bytes;
using test::bytesOf;
using test::concat;
using test::frames;
using test::frameWord;
using test::vbrFrame;

const std::uint32_t kCbr128 = frameWord(3, 3, 9, 0, false, 1);  // 417 bytes

Bytes id3v2Of(std::uint32_t size, Bytes body = {}) {
    Bytes out = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0};
    writeSyncSafe(size, std::span<std::uint8_t, 4>(out.data() + 6, 4));
    body.resize(size, 0);
    return concat({out, body});
}

class Mp3Scan : public ::testing::Test {
protected:
    Mp3ScanResult scanBytes(const Bytes& bytes) {
        const auto path = dir_ / "f.mp3";
        test::writeFile(path, bytes);
        return scanMp3File(path);
    }
    test::TempDir dir_;
};

TEST_F(Mp3Scan, ConstantBitrateStream) {
    TagRecord v1;
    v1.title = u"Old title";
    v1.album = u"Album";
    const auto v1Block = buildId3v1(v1);
    TagRecord v2;
    v2.title = u"New title";
    const Bytes v2Tag = buildId3v2(v2);

    const Bytes body = frames(kCbr128, 417, 10000);  // 4,170,000 bytes
    const auto r = scanBytes(concat({v2Tag, body, Bytes(v1Block.begin(), v1Block.end())}));
    ASSERT_TRUE(r.ok());
    const Mp3StreamInfo& i = r.info;
    EXPECT_EQ(i.firstFrameOffset, 1024);
    EXPECT_EQ(i.audioBytes, 4170000);
    EXPECT_EQ(i.audioEnd, 1024 + 4170000);
    EXPECT_EQ(i.frameCount, 10000);
    EXPECT_NEAR(i.durationSeconds, 261.2245, 1e-3);
    EXPECT_EQ(i.bitrate, 128000);
    EXPECT_EQ(i.sampleRate, 44100);
    EXPECT_EQ(i.channels, 2);
    EXPECT_FALSE(i.vbr);
    EXPECT_TRUE(i.hasId3v1);
    EXPECT_TRUE(i.hasId3v2);
    // ID3v2 values win; fields it lacks keep the ID3v1 value.
    EXPECT_EQ(i.tags.title, u"New title");
    EXPECT_EQ(i.tags.album, u"Album");
}

TEST_F(Mp3Scan, FirstFrameBehindTheTag) {
    const Bytes body = frames(kCbr128, 417, 3);
    auto r = scanBytes(concat({id3v2Of(2000), body}));
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.info.firstFrameOffset, 2010);

    // Bytes that look like a frame header in the tag's last ten bytes belong
    // to the tag, not to the audio.
    Bytes tagBody(2000, 0);
    tagBody[1995] = 0xFF;
    tagBody[1996] = 0xFB;
    tagBody[1997] = 0x90;
    r = scanBytes(concat({id3v2Of(2000, tagBody), Bytes(50, 0), body}));
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.info.firstFrameOffset, 2060);

    // Junk between the tag and the audio is searched over.
    r = scanBytes(concat({Bytes(3000, 0x11), body}));
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.info.firstFrameOffset, 3000);
}

TEST_F(Mp3Scan, VbrHeader) {
    struct Case {
        const char* name;
        std::uint32_t word;
        int length, offset;
        std::uint32_t flags, frameCount, byteCount;
        int extraFrames;
        std::int64_t expectFrames;
        double expectDuration;
        std::int64_t expectBytes;
    };
    const std::uint32_t mono1 = frameWord(3, 3, 9, 0, false, 3);
    const std::uint32_t mpeg2 = frameWord(2, 3, 8, 0, false, 0);    // 208 bytes
    const std::uint32_t mpeg2m = frameWord(2, 3, 8, 0, false, 3);
    const Case cases[] = {
        {"frames and bytes", kCbr128, 417, 36, 3, 1000, 400000, 5, 1000, 1000 * 1152 / 44100.0, 400000},
        {"MPEG-1 mono offset", mono1, 417, 21, 3, 1000, 400000, 5, 1000, 1000 * 1152 / 44100.0, 400000},
        {"MPEG-2 offset", mpeg2, 208, 21, 1, 1000, 0, 5, 1000, 1000 * 576 / 22050.0, 6 * 208},
        {"MPEG-2 mono offset", mpeg2m, 208, 13, 1, 1000, 0, 5, 1000, 1000 * 576 / 22050.0, 6 * 208},
        // Without a frame count the frames behind the header are counted.
        {"no frame count", kCbr128, 417, 36, 2, 0, 5000, 20, 20, 20 * 1152 / 44100.0, 5000},
        {"zero frame count", kCbr128, 417, 36, 3, 0, 0, 20, 20, 20 * 1152 / 44100.0, 21 * 417},
    };
    for (const Case& c : cases) {
        const auto r = scanBytes(concat({vbrFrame(c.word, c.length, c.offset, "Xing", c.flags, c.frameCount, c.byteCount),
                                         frames(c.word, c.length, c.extraFrames)}));
        ASSERT_TRUE(r.ok()) << c.name;
        EXPECT_TRUE(r.info.vbr) << c.name;
        EXPECT_EQ(r.info.frameCount, c.expectFrames) << c.name;
        EXPECT_NEAR(r.info.durationSeconds, c.expectDuration, 1e-9) << c.name;
        EXPECT_EQ(r.info.audioBytes, c.expectBytes) << c.name;
        EXPECT_EQ(r.info.bitrate, static_cast<std::int32_t>(c.expectBytes * 8 / c.expectDuration)) << c.name;
    }
    // "Info" is the same header; a look-alike is not.
    EXPECT_TRUE(scanBytes(vbrFrame(kCbr128, 417, 36, "Info", 1, 10, 0)).info.vbr);
    EXPECT_FALSE(scanBytes(concat({vbrFrame(kCbr128, 417, 36, "Xnfo", 1, 10, 0), frames(kCbr128, 417, 1)})).info.vbr);
}

TEST_F(Mp3Scan, FreeFormatStream) {
    // 1000 bytes per frame without padding, every third frame padded.
    const std::uint32_t plain = frameWord(3, 3, 0, 0, false, 1);
    const std::uint32_t padded = frameWord(3, 3, 0, 0, true, 1);
    Bytes body;
    for (int i = 0; i < 30; ++i) {
        const bool pad = i % 3 == 2;
        body = concat({body, frames(pad ? padded : plain, pad ? 1001 : 1000, 1)});
    }
    auto r = scanBytes(body);
    ASSERT_TRUE(r.ok());
    EXPECT_TRUE(r.info.freeFormat);
    EXPECT_EQ(r.info.frameCount, 30);
    EXPECT_NEAR(r.info.durationSeconds, 30 * 1152 / 44100.0, 1e-9);
    EXPECT_EQ(r.info.bitrate, static_cast<std::int32_t>(30010 * 8 / (30 * 1152 / 44100.0)));

    // A single frame: nothing to measure, so no duration and no division by it.
    r = scanBytes(frames(plain, 1000, 1));
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.info.durationSeconds, 0.0);
    EXPECT_EQ(r.info.bitrate, 0);
}

TEST_F(Mp3Scan, DamagedFiles) {
    const Bytes good = frames(kCbr128, 417, 4);
    const Bytes xing = vbrFrame(kCbr128, 417, 36, "Xing", 7, 9, 9);
    const Bytes cutXing(xing.begin(), xing.begin() + 60);
    Bytes oversizedTag = id3v2Of(50000);
    oversizedTag.resize(1000);  // the header claims 50000 bytes
    Bytes tagWithHeader = concat({bytesOf("TAG"), Bytes(47, 0), frames(kCbr128, 78, 1)});
    struct Case {
        const char* name;
        Bytes bytes;
        ScanStatus status;
    };
    const Case cases[] = {
        {"empty", {}, ScanStatus::unexpectedEndOfFile},
        {"100 zero bytes", Bytes(100, 0), ScanStatus::unexpectedEndOfFile},
        {"no frame in the window", Bytes(70000, 0), ScanStatus::streamNotFound},
        {"tag larger than the file", oversizedTag, ScanStatus::unexpectedEndOfFile},
        {"tag header only", Bytes{'I', 'D', '3', 3, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F}, ScanStatus::unexpectedEndOfFile},
        {"frame header in the last bytes", Bytes{0, 0, 0xFF, 0xFB, 0x90}, ScanStatus::unexpectedEndOfFile},
        {"first frame cut", Bytes(good.begin(), good.begin() + 100), ScanStatus::ok},
        {"vbr header cut", cutXing, ScanStatus::ok},
        {"damage between frames", concat({good, Bytes(300, 0x55), good}), ScanStatus::ok},
        {"frame inside the ID3v1 area", concat({Bytes(20, 0), tagWithHeader}), ScanStatus::ok},
    };
    for (const Case& c : cases) {
        const auto r = scanBytes(c.bytes);
        EXPECT_EQ(r.status, c.status) << c.name;
        if (r.ok()) {
            EXPECT_GE(r.info.audioBytes, 0) << c.name;
            EXPECT_GE(r.info.durationSeconds, 0) << c.name;
            EXPECT_GE(r.info.bitrate, 0) << c.name;
        }
    }
    // A header whose flagged fields are cut off is no header.
    EXPECT_FALSE(scanBytes(cutXing).info.vbr);

    const auto missing = scanMp3File(dir_ / "missing.mp3");
    EXPECT_EQ(missing.status, ScanStatus::systemError);
    EXPECT_EQ(missing.systemError, ENOENT);
}

TEST_F(Mp3Scan, DescriptorInterfaceLeavesThePosition) {
    const auto path = dir_ / "fd.mp3";
    test::writeFile(path, concat({id3v2Of(100), frames(kCbr128, 417, 5)}));
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::lseek(fd, 7, SEEK_SET), 7);
    const auto r = scanMp3File(fd);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.info.firstFrameOffset, 110);
    EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), 7);

    // The decoder's resynchronisation: the next header of the same stream.
    const auto next = findStreamFrame(fd, 111, r.info.firstFrame);
    ASSERT_TRUE(next);
    EXPECT_EQ(*next, 110 + 417);
    EXPECT_FALSE(findStreamFrame(fd, 110 + 4 * 417 + 1, r.info.firstFrame));
    ::close(fd);
}

TEST_F(Mp3Scan, ResynchronisationSkipsOtherStreams) {
    const std::uint32_t otherRate = frameWord(3, 3, 9, 1, false, 1);
    const Bytes bytes = concat({frames(kCbr128, 417, 1), frames(otherRate, 384, 1), frames(kCbr128, 417, 1)});
    const auto path = dir_ / "mixed.mp3";
    test::writeFile(path, bytes);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const auto first = parseFrameHeader(kCbr128);
    const auto next = findStreamFrame(fd, 1, *first);
    ::close(fd);
    ASSERT_TRUE(next);
    EXPECT_EQ(*next, 417 + 384);
}

// After damage the stream comes back only where a run of its frames does:
// a lone header-like word in junk is passed over, and so is a run of frames
// of another format, which findForeignFrameRun finds instead.
TEST_F(Mp3Scan, ResynchronisationAfterDamageNeedsARunOfFrames) {
    const std::uint32_t otherRate = frameWord(3, 3, 9, 1, false, 3);  // 48 kHz mono
    const Bytes fake = {0xFF, 0xFB, 0x90, 0x00};  // a header of the stream, alone in junk
    struct Case {
        const char* what;
        Bytes bytes;
        std::int64_t from;
        std::optional<std::int64_t> resync;
        bool foreign;
    } cases[] = {
        {"far beyond the search window", concat({Bytes(100000, 0), frames(kCbr128, 417, 3)}), 0, 100000, false},
        {"a lone header in junk", concat({Bytes(50, 0), fake, Bytes(500, 0x55), frames(kCbr128, 417, 3)}), 0,
         50 + 4 + 500, false},
        {"a run cut by the end", concat({Bytes(10, 0), frames(kCbr128, 417, 2)}), 0, 10, false},
        {"only another format", concat({Bytes(10, 0), frames(otherRate, 384, 4)}), 0, std::nullopt, true},
        {"another format, then the stream", concat({frames(otherRate, 384, 3), frames(kCbr128, 417, 3)}), 0,
         3 * 384, true},
        {"nothing", Bytes(5000, 0), 0, std::nullopt, false},
    };
    const auto first = parseFrameHeader(kCbr128);
    ASSERT_TRUE(first);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto path = dir_ / "damaged.mp3";
        test::writeFile(path, c.bytes);
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        const auto end = std::int64_t(c.bytes.size());
        EXPECT_EQ(resyncStreamFrame(fd, c.from, end, *first), c.resync);
        const auto foreign = findForeignFrameRun(fd, c.from, end, *first);
        EXPECT_EQ(foreign.has_value(), c.foreign);
        if (foreign) {
            EXPECT_EQ(foreign->sampleRate, 48000);
            EXPECT_EQ(foreign->channels, 1);
        }
        ::close(fd);
    }
}

TEST(Mp3Seek, OffsetForTime) {
    Mp3StreamInfo cbr;
    cbr.audioBytes = 1000000;
    cbr.durationSeconds = 100;
    Mp3StreamInfo vbr = cbr;
    vbr.vbr = true;
    vbr.vbrHeader.flags = VbrHeader::kTocFlag;
    for (int i = 0; i < 100; ++i) vbr.vbrHeader.toc[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i * 2);
    Mp3StreamInfo vbrWithoutToc = cbr;
    vbrWithoutToc.vbr = true;
    Mp3StreamInfo noDuration = cbr;
    noDuration.durationSeconds = 0;

    struct Case {
        const char* name;
        const Mp3StreamInfo* info;
        std::int64_t ms;
        std::int64_t offset;
    };
    const Case cases[] = {
        {"proportional", &cbr, 30000, 300000},
        {"before the start", &cbr, -5, 0},
        {"beyond the end", &cbr, 200000, 1000000},
        {"table entry", &vbr, 30000, 60 * 1000000 / 256},
        {"between entries", &vbr, 30500, static_cast<std::int64_t>(61.0 * 1000000 / 256)},
        {"last entry runs to 256", &vbr, 99500, static_cast<std::int64_t>((198 + 0.5 * 58) * 1000000 / 256)},
        {"no table: proportional", &vbrWithoutToc, 30000, 300000},
        {"no duration", &noDuration, 30000, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(seekOffsetForTime(*c.info, c.ms), c.offset) << c.name;
}

}  // namespace
}  // namespace kiv::mp3
