// One encoding stream of lame_enc.so: a libmp3lame encoder configured from
// the caller's BE_CONFIG record, plus what the VBR header writer needs to
// find the stream's file again after the stream is gone.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "runtime/lame_enc/lame_enc.h"
#include "runtime/lame_enc/stream_fingerprint.h"

struct lame_global_struct;

namespace kiv::lame_enc {

// The finished Xing/Info frame of a stream and the fingerprint of every
// byte the stream produced, placeholder frame included.
struct FinishedTag {
    StreamFingerprint fingerprint;
    std::vector<std::uint8_t> frame;
};

class EncoderStream {
public:
    // Validates the record and opens the encoder. On failure returns the
    // BE_ERR code and leaves `stream` empty.
    static BE_ERR Create(const BE_CONFIG& config, std::unique_ptr<EncoderStream>& stream);

    ~EncoderStream();
    EncoderStream(const EncoderStream&) = delete;
    EncoderStream& operator=(const EncoderStream&) = delete;

    DWORD SamplesPerChunk() const { return samplesPerChunk_; }
    DWORD OutputBufferSize() const { return outputBufferSize_; }

    // `sampleCount` 16-bit samples of all channels, at most SamplesPerChunk.
    BE_ERR Encode(DWORD sampleCount, const std::int16_t* samples, BYTE* output, DWORD* outputBytes);
    // Flushes the encoder; the stream takes no more samples afterwards.
    BE_ERR Finish(BYTE* output, DWORD* outputBytes);
    // The final header frame, once Finish succeeded on a stream configured
    // with a VBR header; empty otherwise. Hands it out only once.
    std::optional<FinishedTag> TakeFinishedTag();

    struct LameCloser {
        void operator()(lame_global_struct* flags) const;
    };
    using LamePtr = std::unique_ptr<lame_global_struct, LameCloser>;
    // Use Create; this only adopts an encoder whose parameters are set.
    EncoderStream(LamePtr lame, int channels, bool wantsHeader);

private:

    LamePtr lame_;
    int channels_;
    bool wantsHeader_;
    bool finished_ = false;
    DWORD samplesPerChunk_ = 0;
    DWORD outputBufferSize_ = 0;
    // A stereo call with an odd sample count leaves half a sample frame;
    // it waits here for its partner instead of being dropped.
    std::optional<std::int16_t> carry_;
    std::vector<std::int16_t> staging_;
    StreamFingerprint fingerprint_;
    std::optional<FinishedTag> finishedTag_;
};

}  // namespace kiv::lame_enc
