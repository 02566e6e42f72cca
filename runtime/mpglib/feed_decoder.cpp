#include "runtime/mpglib/feed_decoder.h"

#include <mpg123.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "runtime/mpglib/mpglib.h"

namespace kiv::mpglib {
namespace {

bool LibraryReady() {
    // Needed once per process by older libmpg123 versions, harmless on newer.
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] { ready = mpg123_init() == MPG123_OK; });
    return ready;
}

// Only signed 16-bit output, at whatever rate and channel count the stream
// has: libmpg123 must neither convert nor resample.
bool RestrictFormats(mpg123_handle* handle) {
    if (mpg123_format_none(handle) != MPG123_OK) return false;
    const long* rates = nullptr;
    std::size_t count = 0;
    mpg123_rates(&rates, &count);
    for (std::size_t i = 0; i < count; ++i) {
        if (mpg123_format(handle, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16) != MPG123_OK) {
            return false;
        }
    }
    return true;
}

// Any limit will do as long as every call ends; each pass through the loop
// normally consumes a frame, so this is never reached with real data.
constexpr int kMaxQuietPasses = 64;

}  // namespace

void FeedDecoder::HandleCloser::operator()(mpg123_handle_struct* handle) const { mpg123_delete(handle); }

FeedDecoder::FeedDecoder(HandlePtr handle) : handle_(std::move(handle)) {}

std::unique_ptr<FeedDecoder> FeedDecoder::Create() {
    if (!LibraryReady()) return nullptr;
    int error = MPG123_OK;
    HandlePtr handle(mpg123_new(nullptr, &error));
    if (!handle) return nullptr;
    // Gapless trimming stays off: callers count whole frames, and trimmed
    // output would disagree with the durations they derive from the stream.
    if (mpg123_param(handle.get(), MPG123_FLAGS, MPG123_QUIET, 0.0) != MPG123_OK) return nullptr;
    if (!RestrictFormats(handle.get())) return nullptr;
    if (mpg123_open_feed(handle.get()) != MPG123_OK) return nullptr;
    return std::make_unique<FeedDecoder>(std::move(handle));
}

std::size_t FeedDecoder::TakePending(std::uint8_t* output, std::size_t outputSize) {
    const std::size_t n = std::min(outputSize, pending_.size() - pendingOffset_);
    std::memcpy(output, pending_.data() + pendingOffset_, n);
    pendingOffset_ += n;
    if (pendingOffset_ == pending_.size()) {
        pending_.clear();
        pendingOffset_ = 0;
    }
    return n;
}

int FeedDecoder::Decode(const std::uint8_t* input, std::size_t inputSize, std::uint8_t* output,
                        std::size_t outputSize, std::size_t& produced) {
    produced = 0;
    if (inputSize > 0 && mpg123_feed(handle_.get(), input, inputSize) != MPG123_OK) return MP3_ERR;
    if (!pending_.empty()) {
        produced = TakePending(output, outputSize);
        return MP3_OK;
    }
    for (int pass = 0; pass < kMaxQuietPasses; ++pass) {
        off_t frameNumber = 0;
        unsigned char* audio = nullptr;
        std::size_t bytes = 0;
        const int result = mpg123_decode_frame(handle_.get(), &frameNumber, &audio, &bytes);
        if (result == MPG123_NEW_FORMAT) {
            // Announced before the first frame (and on a change of format)
            // without any audio; the caller only wants the audio.
            long rate = 0;
            int channels = 0;
            int encoding = 0;
            if (mpg123_getformat(handle_.get(), &rate, &channels, &encoding) != MPG123_OK ||
                encoding != MPG123_ENC_SIGNED_16) {
                return MP3_ERR;
            }
            // The caller has announced the first format to its own client;
            // audio of another would be taken for it, at the wrong speed.
            if (rate_ != 0 && (rate != rate_ || channels != channels_)) return MP3_ERR;
            rate_ = rate;
            channels_ = channels;
            continue;
        }
        if (result == MPG123_NEED_MORE || result == MPG123_DONE) return MP3_NEED_MORE;
        if (result != MPG123_OK) return MP3_ERR;
        if (bytes == 0 || audio == nullptr) continue;
        produced = std::min(bytes, outputSize);
        std::memcpy(output, audio, produced);
        if (produced < bytes) {
            pending_.assign(audio + produced, audio + bytes);
            pendingOffset_ = 0;
        }
        return MP3_OK;
    }
    return MP3_NEED_MORE;
}

}  // namespace kiv::mpglib
