#include "components/vorbis/ogg_comment_header.h"

#include <ogg/ogg.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <optional>

namespace kiv::vorbis {
namespace {

constexpr std::size_t kPageHeader = 27;  // up to the segment count
// A stream whose first two packets take more than this is not one of ours.
constexpr std::size_t kMaxKept = std::size_t{64} << 20;

std::uint32_t Le32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

}  // namespace

std::vector<std::uint8_t> ReplaceComments(std::span<const std::uint8_t> header, std::string_view opening,
                                          bool framingBit, const std::vector<Comment>& values) {
    auto sameField = [](std::string_view a, std::string_view b) {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                   return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
               });
    };
    // Every length is checked against the bytes left before it is used.
    std::span<const std::uint8_t> rest = header;
    auto take = [&rest](std::size_t n) -> std::optional<std::span<const std::uint8_t>> {
        if (n > rest.size()) return std::nullopt;
        auto part = rest.first(n);
        rest = rest.subspan(n);
        return part;
    };
    auto takeLength = [&]() -> std::optional<std::size_t> {
        auto bytes = take(4);
        if (!bytes) return std::nullopt;
        return std::size_t(Le32(bytes->data()));
    };
    auto magic = take(opening.size());
    if (!magic || std::memcmp(magic->data(), opening.data(), opening.size()) != 0) return {};
    auto vendorLength = takeLength();
    auto vendor = vendorLength ? take(*vendorLength) : std::nullopt;
    auto count = vendor ? takeLength() : std::nullopt;
    if (!count) return {};
    std::vector<std::string> entries;
    for (std::size_t i = 0; i < *count; ++i) {
        auto length = takeLength();
        auto entry = length ? take(*length) : std::nullopt;
        if (!entry) return {};
        const std::string_view text(reinterpret_cast<const char*>(entry->data()), entry->size());
        const std::string_view field = text.substr(0, text.find('='));
        if (std::none_of(values.begin(), values.end(), [&](const Comment& c) { return sameField(c.field, field); }))
            entries.emplace_back(text);
    }
    if (framingBit && (rest.empty() || (rest[0] & 1) == 0)) return {};
    for (const Comment& c : values) entries.push_back(CommentEntry(c));

    std::vector<std::uint8_t> out(opening.begin(), opening.end());
    const std::vector<std::uint8_t> list =
        EncodeCommentList(std::string_view(reinterpret_cast<const char*>(vendor->data()), vendor->size()), entries);
    out.insert(out.end(), list.begin(), list.end());
    if (framingBit) out.push_back(1);
    return out;
}

void OggCommentHeader::Reset() { *this = OggCommentHeader(); }

void OggCommentHeader::Begin(int fd) {
    Reset();
    const off_t at = ::lseek(fd, 0, SEEK_CUR);
    seekable_ = at >= 0;
    start_ = at;
}

void OggCommentHeader::Take(const std::uint8_t* data, std::size_t size) {
    if (complete_ || broken_) return;
    if (bytes_.size() + size > kMaxKept) {
        broken_ = true;
        bytes_.clear();
        return;
    }
    bytes_.insert(bytes_.end(), data, data + size);
    Parse();
}

void OggCommentHeader::Parse() {
    // Whole pages only; a page still being written waits for its rest.
    while (!complete_ && bytes_.size() - parsed_ >= kPageHeader) {
        const std::uint8_t* page = bytes_.data() + parsed_;
        if (std::memcmp(page, "OggS", 4) != 0) {
            broken_ = true;  // not a stream this can rewrite; keep nothing
            bytes_.clear();
            return;
        }
        const std::size_t segments = page[26];
        if (bytes_.size() - parsed_ < kPageHeader + segments) return;
        std::size_t bodySize = 0;
        for (std::size_t i = 0; i < segments; ++i) bodySize += page[kPageHeader + i];
        const std::size_t headerSize = kPageHeader + segments;
        if (bytes_.size() - parsed_ < headerSize + bodySize) return;

        std::size_t at = parsed_ + headerSize;
        bool touched = false;
        for (std::size_t i = 0; i < segments && !complete_; ++i) {
            const std::size_t lace = page[kPageHeader + i];
            if (packetNo_ == 1) {
                pieces_.emplace_back(at, lace);
                packet_.insert(packet_.end(), bytes_.begin() + std::ptrdiff_t(at),
                               bytes_.begin() + std::ptrdiff_t(at + lace));
                touched = true;
            }
            at += lace;
            if (lace < 255) {
                if (packetNo_ == 1) complete_ = true;
                ++packetNo_;
            }
        }
        if (touched) pages_.push_back(parsed_);
        parsed_ += headerSize + bodySize;
        if (complete_) end_ = parsed_;
    }
    if (complete_) bytes_.resize(end_);
}

bool OggCommentHeader::Replace(int fd, std::span<const std::uint8_t> header) const {
    if (!complete_ || !seekable_ || header.size() > packet_.size()) {
        errno = 0;
        return false;
    }
    std::vector<std::uint8_t> bytes = bytes_;
    std::size_t from = 0;
    for (const auto& [offset, length] : pieces_) {
        for (std::size_t i = 0; i < length; ++i, ++from)
            bytes[offset + i] = from < header.size() ? header[from] : 0;
    }
    for (std::size_t p : pages_) {
        std::uint8_t* page = bytes.data() + p;
        const std::size_t segments = page[26];
        std::size_t bodySize = 0;
        for (std::size_t i = 0; i < segments; ++i) bodySize += page[kPageHeader + i];
        ogg_page og{page, long(kPageHeader + segments), page + kPageHeader + segments, long(bodySize)};
        ogg_page_checksum_set(&og);
    }
    // Only the pages that hold the header change.
    const std::size_t first = pages_.front();
    const std::size_t size = end_ - first;
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd, bytes.data() + first + done, size - done, off_t(start_) + off_t(first + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += std::size_t(n);
    }
    return true;
}

bool OggCommentHeader::ReplaceValues(int fd, std::string_view opening, bool framingBit,
                                     const std::vector<Comment>& values) const {
    const std::vector<std::uint8_t> header = ReplaceComments(packet_, opening, framingBit, values);
    if (header.empty()) {
        errno = 0;
        return false;
    }
    return Replace(fd, header);
}

}  // namespace kiv::vorbis
