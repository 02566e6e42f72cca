// Header frames of finished streams, waiting for the caller to name the
// file that holds them.
//
// beWriteVBRHeader gets only a file name, after the stream has been closed,
// and several streams may finish in any order. So each closed stream leaves
// its final Xing/Info frame here together with the fingerprint of the bytes
// it produced; the writer looks for the entry whose bytes the file holds at
// the start of its audio (after an ID3v2 tag, if one is there) and puts the
// frame over the placeholder. A file that matches no entry is left alone.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "runtime/lame_enc/encoder_stream.h"
#include "runtime/lame_enc/lame_enc.h"

namespace kiv::lame_enc {

class VbrHeaderLedger {
public:
    // Entries left unclaimed (a caller that wrote to a pipe, or failed before
    // its last step) are dropped oldest first beyond this many.
    static constexpr std::size_t kCapacity = 64;

    void Add(FinishedTag tag);
    // BE_ERR_SUCCESSFUL when the frame was written; BE_ERR_INVALID_HANDLE
    // when no waiting stream matches the file; BE_ERR_INVALID_FORMAT when
    // the file cannot be read or written.
    BE_ERR WriteInto(const std::string& fileName);

private:
    struct Entry {
        std::uint64_t id;
        FinishedTag tag;
    };

    std::mutex mutex_;
    std::deque<Entry> entries_;
    std::uint64_t nextId_ = 1;
};

}  // namespace kiv::lame_enc
