// The decoder behind one MPSTR record: libmpg123 in feed mode, reshaped to
// the frame-at-a-time answers of decodeMP3 (see mpglib.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct mpg123_handle_struct;

namespace kiv::mpglib {

class FeedDecoder {
public:
    // Null when libmpg123 cannot give a decoder.
    static std::unique_ptr<FeedDecoder> Create();

    struct HandleCloser {
        void operator()(mpg123_handle_struct* handle) const;
    };
    using HandlePtr = std::unique_ptr<mpg123_handle_struct, HandleCloser>;
    // Use Create; this only adopts a handle opened for feeding.
    explicit FeedDecoder(HandlePtr handle);

    // The decodeMP3 contract: MP3_OK, MP3_NEED_MORE or MP3_ERR.
    int Decode(const std::uint8_t* input, std::size_t inputSize, std::uint8_t* output, std::size_t outputSize,
               std::size_t& produced);

private:
    std::size_t TakePending(std::uint8_t* output, std::size_t outputSize);

    HandlePtr handle_;
    // Rest of a decoded frame that did not fit the caller's area.
    std::vector<std::uint8_t> pending_;
    std::size_t pendingOffset_ = 0;
    // The stream's format as first announced; 0 before the first frame.
    long rate_ = 0;
    int channels_ = 0;
};

}  // namespace kiv::mpglib
