// The comment header of an Ogg Vorbis or Opus stream, replaced once the
// stream is complete: values known only at the end (ReplayGain) go into
// room the encoder left in the header when it wrote it, so the audio pages
// stay where they are. The new header takes the old one's bytes exactly
// (zero bytes fill what it does not use, which both formats' readers pass
// over), so only the pages' checksums change with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "components/vorbis/vorbis_comments.h"

namespace kiv::vorbis {

// A comment header (the format's own opening, "\x03vorbis" or "OpusTags",
// the vendor string, the comments, for Vorbis a closing framing bit, then
// anything) with every comment of a field in `values` replaced by those of
// `values` (field names compared without regard to ASCII case), the other
// comments and the vendor kept. Empty when `header` is not such a header.
std::vector<std::uint8_t> ReplaceComments(std::span<const std::uint8_t> header, std::string_view opening,
                                          bool framingBit, const std::vector<Comment>& values);

class OggCommentHeader {
public:
    // `fd` is the output the stream is about to be written to; the stream
    // starts at its current offset. An output that cannot seek (a pipe)
    // cannot be rewritten.
    void Begin(int fd);
    // Every byte of the stream as written, from its start: the pages are
    // kept until the second packet (the comment header) is complete.
    void Take(const std::uint8_t* data, std::size_t size);
    bool complete() const { return complete_; }
    // The comment header as written; empty until complete.
    std::span<const std::uint8_t> packet() const {
        return complete_ ? std::span<const std::uint8_t>(packet_) : std::span<const std::uint8_t>();
    }

    // Writes `header` (at most as long as the one written) over the one in
    // the file, filled up with zero bytes, with the pages' new checksums.
    // False when it cannot: too long, the header never completed, the
    // output cannot seek, or a write failed (errno set).
    bool Replace(int fd, std::span<const std::uint8_t> header) const;
    // Replace with the header written, its comments changed as
    // ReplaceComments does.
    bool ReplaceValues(int fd, std::string_view opening, bool framingBit, const std::vector<Comment>& values) const;
    void Reset();

private:
    void Parse();

    bool seekable_ = false;
    bool broken_ = false;              // not pages this can follow
    long long start_ = 0;              // the stream's offset in the output
    std::vector<std::uint8_t> bytes_;  // the stream's first pages
    std::size_t parsed_ = 0;           // bytes_ up to here are whole pages seen
    std::size_t packetNo_ = 0;         // packets ended so far
    bool complete_ = false;
    std::size_t end_ = 0;              // end of the page that ends the header
    std::vector<std::uint8_t> packet_;
    // Where the header's bytes lie in bytes_: (offset, length), in order,
    // and the pages they lie in (offset of each page header).
    std::vector<std::pair<std::size_t, std::size_t>> pieces_;
    std::vector<std::size_t> pages_;
};

}  // namespace kiv::vorbis
