#include "components/mp3/format/mp3_scan.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "components/mp3/format/file_reader.h"
#include "components/mp3/format/apev2.h"
#include "components/mp3/format/id3v1.h"
#include "components/mp3/format/id3v2_header.h"
#include "components/mp3/format/id3v2_reader.h"

namespace kiv::mp3 {

namespace {

std::uint32_t bigEndian32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}

// Sequential access to header words without one system call per word.
class WordWindow {
public:
    explicit WordWindow(FileReader& reader) : reader_(reader), buffer_(kChunk) {}

    // The big-endian word at pos, or nullopt past the end (or on a read
    // failure, which ends a walk like the end of the file does).
    std::optional<std::uint32_t> at(std::int64_t pos) {
        if (pos < base_ || pos + 4 > base_ + length_) {
            const std::int64_t got = reader_.readAt(pos, buffer_);
            if (got < 4) return std::nullopt;
            base_ = pos;
            length_ = got;
        }
        return bigEndian32(buffer_.data() + (pos - base_));
    }

private:
    static constexpr std::size_t kChunk = 1 << 16;
    FileReader& reader_;
    std::vector<std::uint8_t> buffer_;
    std::int64_t base_ = 0;
    std::int64_t length_ = 0;
};

// A stream is free-format throughout or not at all.
bool sameKind(const FrameHeader& first, std::uint32_t word) {
    const bool freeFormat = ((word >> 12) & 15) == 0;
    return continuesStream(first, word) && freeFormat == (first.bitrateIndex == 0);
}

// First offset in [from, min(from + window, end - 3)) holding a header that
// can continue the stream.
std::optional<std::int64_t> searchStreamFrame(WordWindow& words, std::int64_t from, std::int64_t end,
                                              const FrameHeader& first, std::int64_t window) {
    const std::int64_t limit = std::min(from + window, end);
    for (std::int64_t pos = from; pos < limit; ++pos) {
        const auto word = words.at(pos);
        if (!word) return std::nullopt;
        if (sameKind(first, *word)) return pos;
    }
    return std::nullopt;
}

// Frames in a row that make a run: enough that damaged data does not fake
// one by chance.
constexpr int kRunLength = 3;

// Whether a run of frames of kind starts at pos: headers where the frame
// before ends, all continuing kind. A run cut by end counts once its first
// header is there; a free-format frame, whose length the header does not
// give, counts alone.
bool frameRunAt(WordWindow& words, std::int64_t pos, std::int64_t end, const FrameHeader& kind) {
    for (int i = 0; i < kRunLength; ++i) {
        if (pos + 4 > end) return i > 0;
        const auto word = words.at(pos);
        if (!word || !sameKind(kind, *word)) return false;
        const auto header = parseFrameHeader(*word);
        if (!header) return false;
        const int length = header->frameLength();
        if (length < 4) return true;
        pos += length;
    }
    return true;
}

// Counts the complete frames in [start, end), stepping from header to header
// and searching over damaged stretches. freeLength is the length without
// padding of a free-format stream's frames, 0 otherwise.
std::int64_t countFrames(WordWindow& words, std::int64_t start, std::int64_t end, const FrameHeader& first,
                         int freeLength) {
    std::int64_t count = 0;
    std::int64_t pos = start;
    while (pos + 4 <= end) {
        const auto word = words.at(pos);
        if (!word) break;
        const auto header = parseFrameHeader(*word);
        if (!header || !sameKind(first, *word)) {
            const auto next = searchStreamFrame(words, pos + 1, end, first, kFrameSearchWindow);
            if (!next) break;
            pos = *next;
            continue;
        }
        const int length = freeLength > 0 ? header->frameLength(freeLength) : header->frameLength();
        if (length < 4 || pos + length > end) break;
        ++count;
        pos += length;
    }
    return count;
}

// Length without padding of the frames of a free-format stream: the distance
// to the next header of the same kind, confirmed by the header after it.
std::optional<int> measureFreeFormatLength(WordWindow& words, std::int64_t first, std::int64_t end,
                                           const FrameHeader& header) {
    std::int64_t from = first + 4;
    while (true) {
        const auto next = searchStreamFrame(words, from, end, header, kFrameSearchWindow - (from - first));
        if (!next) return std::nullopt;
        const auto nextHeader = parseFrameHeader(*words.at(*next));
        const std::int64_t length = *next - first - (header.padding ? header.paddingSize() : 0);
        if (length > 4 && length < kFrameSearchWindow) {
            const std::int64_t third = *next + nextHeader->frameLength(static_cast<int>(length));
            if (third + 4 > end) return static_cast<int>(length);  // nothing after it to confirm
            const auto word = words.at(third);
            if (word && sameKind(header, *word)) {
                return static_cast<int>(length);
            }
        }
        from = *next + 1;
    }
}

std::int32_t clampBitrate(double value) {
    if (!(value > 0)) return 0;
    if (value >= static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
        return std::numeric_limits<std::int32_t>::max();
    }
    return static_cast<std::int32_t>(value);
}

Mp3ScanResult systemFailure(const FileReader& reader) {
    Mp3ScanResult result;
    result.status = ScanStatus::systemError;
    result.systemError = reader.error();
    return result;
}

Mp3ScanResult scan(FileReader& reader) {
    Mp3ScanResult result;
    Mp3StreamInfo& info = result.info;
    info.fileSize = reader.size();
    if (info.fileSize < 0) return systemFailure(reader);

    // A leading ID3v2 tag: the audio search starts behind it.
    std::array<std::uint8_t, kId3v2HeaderSize> head{};
    const std::int64_t headBytes = reader.readAt(0, head);
    if (headBytes < 0) return systemFailure(reader);
    std::int64_t searchBase = 0;
    const auto id3v2 = parseId3v2Header(std::span(head).first(static_cast<std::size_t>(headBytes)));
    if (id3v2) {
        info.hasId3v2 = true;
        searchBase = static_cast<std::int64_t>(id3v2->totalSize());
    }

    // The first frame header.
    std::vector<std::uint8_t> window(static_cast<std::size_t>(kFrameSearchWindow) + 3);
    const std::int64_t got = reader.readAt(searchBase, window);
    if (got < 0) return systemFailure(reader);
    std::int64_t found = -1;
    for (std::int64_t i = 0; i < kFrameSearchWindow; ++i) {
        if (i + 4 > got) {
            result.status = ScanStatus::unexpectedEndOfFile;
            return result;
        }
        if (isFrameHeaderCandidate(bigEndian32(window.data() + i))) {
            found = i;
            break;
        }
    }
    if (found < 0) {
        result.status = ScanStatus::streamNotFound;
        return result;
    }
    info.firstFrameOffset = searchBase + found;
    info.audioEnd = info.fileSize;

    // Tags at the end: ID3v1 last, an APEv2 tag before it; or, as some
    // taggers leave it, the APEv2 tag last with the ID3v1 tag before it.
    // None of their bytes are audio. ID3v1 fields go in first, the APEv2
    // ones over them.
    auto readId3v1Before = [&](std::int64_t end, Id3v1Block& block) -> std::optional<bool> {
        if (end < static_cast<std::int64_t>(kId3v1Size)) return false;
        const std::int64_t n = reader.readAt(end - static_cast<std::int64_t>(kId3v1Size), block);
        if (n < 0) return std::nullopt;
        return n == static_cast<std::int64_t>(kId3v1Size) && isId3v1(block);
    };
    Id3v1Block v1{};
    const auto v1AtEnd = readId3v1Before(info.fileSize, v1);
    if (!v1AtEnd) return systemFailure(reader);
    if (*v1AtEnd) {
        info.hasId3v1 = true;
        info.audioEnd -= static_cast<std::int64_t>(kId3v1Size);
    }
    std::vector<std::uint8_t> ape;
    if (info.audioEnd - info.firstFrameOffset >= static_cast<std::int64_t>(kApeFooterSize)) {
        std::array<std::uint8_t, kApeFooterSize> footerBytes{};
        const std::int64_t n =
            reader.readAt(info.audioEnd - static_cast<std::int64_t>(kApeFooterSize), footerBytes);
        if (n < 0) return systemFailure(reader);
        const auto footer = parseApeFooter(std::span(footerBytes).first(static_cast<std::size_t>(n)));
        // Sizes beyond the bytes behind the first frame are not believed,
        // nor sizes no tag of text and a picture or two comes near.
        constexpr std::uint64_t kLargestApeTag = std::uint64_t{64} << 20;
        if (footer && footer->totalSize() <= static_cast<std::uint64_t>(info.audioEnd - info.firstFrameOffset) &&
            footer->totalSize() <= kLargestApeTag) {
            const std::int64_t start = info.audioEnd - static_cast<std::int64_t>(footer->totalSize());
            ape.resize(static_cast<std::size_t>(footer->totalSize()));
            const std::int64_t got = reader.readAt(start, ape);
            if (got < 0) return systemFailure(reader);
            if (got == static_cast<std::int64_t>(ape.size())) {
                info.hasApeTag = true;
                info.audioEnd = start;
            } else {
                ape.clear();
            }
        }
    }
    if (info.hasApeTag && !info.hasId3v1) {
        const auto v1BeforeApe = readId3v1Before(info.audioEnd, v1);
        if (!v1BeforeApe) return systemFailure(reader);
        if (*v1BeforeApe) {
            info.hasId3v1 = true;
            info.audioEnd -= static_cast<std::int64_t>(kId3v1Size);
        }
    }
    if (info.hasId3v1) readId3v1(v1, info.tags);
    if (info.hasApeTag) readApeTag(ape, info.tags);
    info.audioEnd = std::max(info.audioEnd, info.firstFrameOffset);
    info.audioBytes = info.audioEnd - info.firstFrameOffset;

    const FrameHeader first = *parseFrameHeader(bigEndian32(window.data() + found));
    info.firstFrame = first;
    info.sampleRate = first.sampleRate;
    info.channels = first.channels;
    info.lowSamplingFrequency = first.lowSamplingFrequency();
    info.freeFormat = first.bitrateIndex == 0;
    const int samplesPerFrame = first.samplesPerFrame();

    std::array<std::uint8_t, kVbrHeaderSearchSize> frameStart{};
    const std::int64_t frameBytes = reader.readAt(info.firstFrameOffset, frameStart);
    if (frameBytes < 0) return systemFailure(reader);
    const auto vbr = parseVbrHeader(first, std::span(frameStart).first(static_cast<std::size_t>(frameBytes)));

    WordWindow words(reader);
    int freeLength = 0;
    if (info.freeFormat) {
        if (auto length = measureFreeFormatLength(words, info.firstFrameOffset, info.audioEnd, first)) {
            freeLength = *length;
        }
    }
    auto walkFrames = [&](std::int64_t from) {
        if (info.freeFormat && freeLength == 0) return std::int64_t{0};
        return countFrames(words, from, info.audioEnd, first, freeLength);
    };

    if (vbr) {
        info.vbr = true;
        info.vbrHeader = *vbr;
        if (vbr->hasBytes() && vbr->bytes > 0) info.audioBytes = vbr->bytes;
        if (vbr->hasFrames() && vbr->frames > 0) {
            info.frameCount = vbr->frames;
        } else {
            // No count to trust: count the frames behind the header's own.
            const int ownLength = info.freeFormat ? first.frameLength(freeLength) : first.frameLength();
            info.frameCount = ownLength > 0 ? walkFrames(info.firstFrameOffset + ownLength) : 0;
        }
    } else if (info.freeFormat) {
        info.frameCount = walkFrames(info.firstFrameOffset);
    } else {
        info.frameCount = info.audioBytes / first.frameLength();
    }
    info.durationSeconds =
        static_cast<double>(info.frameCount) * samplesPerFrame / static_cast<double>(info.sampleRate);

    if (info.vbr || info.freeFormat) {
        info.bitrate = info.durationSeconds > 0
            ? clampBitrate(static_cast<double>(info.audioBytes) * 8.0 / info.durationSeconds)
            : clampBitrate(info.freeFormat ? first.bitrateForLength(freeLength) : first.bitrateKbps * 1000.0);
    } else {
        info.bitrate = first.bitrateKbps * 1000;
    }

    // ID3v2 fields on top of the ID3v1 ones.
    if (id3v2) {
        const auto tagBytes = std::min<std::int64_t>(static_cast<std::int64_t>(id3v2->totalSize()), info.fileSize);
        std::vector<std::uint8_t> tag(static_cast<std::size_t>(tagBytes));
        const std::int64_t n = reader.readAt(0, tag);
        if (n < 0) return systemFailure(reader);
        tag.resize(static_cast<std::size_t>(n));
        readId3v2(tag, info.tags, &info.pictures, &info.fields);
    }
    return result;
}

}  // namespace

Mp3ScanResult scanMp3File(const std::filesystem::path& path) {
    FileReader reader = FileReader::open(path);
    if (!reader.valid()) return systemFailure(reader);
    return scan(reader);
}

Mp3ScanResult scanMp3File(int fd) {
    FileReader reader = FileReader::borrow(fd);
    return scan(reader);
}

std::int64_t seekOffsetForTime(const Mp3StreamInfo& info, std::int64_t milliseconds) {
    if (!(info.durationSeconds > 0) || info.audioBytes <= 0) return 0;
    const double bytes = static_cast<double>(info.audioBytes);
    double offset = 0;
    if (info.vbr && info.vbrHeader.hasToc()) {
        const double percent = std::clamp(static_cast<double>(milliseconds) / (info.durationSeconds * 10.0), 0.0, 100.0);
        const int k = std::min(static_cast<int>(percent), 99);
        const double a = info.vbrHeader.toc[static_cast<std::size_t>(k)];
        const double b = k == 99 ? 256.0 : info.vbrHeader.toc[static_cast<std::size_t>(k) + 1];
        offset = (a + (percent - k) * (b - a)) * bytes / 256.0;
    } else {
        offset = static_cast<double>(milliseconds) * bytes / (info.durationSeconds * 1000.0);
    }
    offset = std::clamp(offset, 0.0, bytes);
    return static_cast<std::int64_t>(offset);
}

std::optional<std::int64_t> findStreamFrame(int fd, std::int64_t from, const FrameHeader& firstFrame) {
    FileReader reader = FileReader::borrow(fd);
    const std::int64_t size = reader.size();
    if (size < 0 || from < 0) return std::nullopt;
    WordWindow words(reader);
    return searchStreamFrame(words, from, size, firstFrame, kFrameSearchWindow);
}

std::optional<std::int64_t> resyncStreamFrame(int fd, std::int64_t from, std::int64_t end,
                                              const FrameHeader& firstFrame) {
    FileReader reader = FileReader::borrow(fd);
    if (from < 0) return std::nullopt;
    WordWindow words(reader);
    for (std::int64_t pos = from; pos + 4 <= end;) {
        const auto next = searchStreamFrame(words, pos, end, firstFrame, end - pos);
        if (!next) return std::nullopt;
        if (frameRunAt(words, *next, end, firstFrame)) return next;
        pos = *next + 1;
    }
    return std::nullopt;
}

std::optional<FrameHeader> findForeignFrameRun(int fd, std::int64_t from, std::int64_t end,
                                               const FrameHeader& firstFrame) {
    FileReader reader = FileReader::borrow(fd);
    if (from < 0) return std::nullopt;
    WordWindow words(reader);
    for (std::int64_t pos = from; pos + 4 <= end; ++pos) {
        const auto word = words.at(pos);
        if (!word) return std::nullopt;
        const auto header = parseFrameHeader(*word);
        if (!header || header->frameLength() < 4 || continuesStream(firstFrame, *word)) continue;
        // A whole run: a foreign run cut short proves too little.
        std::int64_t at = pos;
        int i = 0;
        for (; i < kRunLength && at + 4 <= end; ++i) {
            const auto w = words.at(at);
            const auto h = w ? parseFrameHeader(*w) : std::nullopt;
            if (!h || !continuesStream(*header, *w) || h->frameLength() < 4) break;
            at += h->frameLength();
        }
        if (i == kRunLength) return header;
    }
    return std::nullopt;
}

}  // namespace kiv::mp3
