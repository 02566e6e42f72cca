// The C entry points of mpglib.so. The state record carries a pointer to the
// library's decoder object; InitMP3 creates it and ExitMP3 destroys it.

#include <memory>
#include <type_traits>

#include "runtime/mpglib/feed_decoder.h"
#include "runtime/mpglib/mpglib.h"

using namespace kiv::mpglib;

extern "C" {

__attribute__((visibility("default"))) int InitMP3(PMPSTR state) {
    if (state == nullptr) return 0;
    std::unique_ptr<FeedDecoder> decoder = FeedDecoder::Create();
    state->decoder = decoder.release();
    return state->decoder != nullptr ? 1 : 0;
}

__attribute__((visibility("default"))) int decodeMP3(PMPSTR state, const unsigned char* input, int inputSize,
                                                     char* output, int outputSize, int* done) {
    if (done != nullptr) *done = 0;
    if (state == nullptr || state->decoder == nullptr || done == nullptr || output == nullptr || outputSize <= 0 ||
        inputSize < 0 || (input == nullptr && inputSize > 0)) {
        return MP3_ERR;
    }
    std::size_t produced = 0;
    const int result = state->decoder->Decode(input, static_cast<std::size_t>(inputSize),
                                              reinterpret_cast<unsigned char*>(output),
                                              static_cast<std::size_t>(outputSize), produced);
    *done = static_cast<int>(produced);
    return result;
}

__attribute__((visibility("default"))) int DecodeMP3(PMPSTR state, const unsigned char* input, int inputSize,
                                                     char* output, int outputSize, int* done) {
    return decodeMP3(state, input, inputSize, output, outputSize, done);
}

__attribute__((visibility("default"))) void ExitMP3(PMPSTR state) {
    if (state == nullptr) return;
    // Adopting and dropping the pointer frees the decoder; a second ExitMP3
    // finds null and does nothing.
    std::unique_ptr<FeedDecoder> decoder(state->decoder);
    state->decoder = nullptr;
}

}  // extern "C"

static_assert(std::is_same_v<decltype(&InitMP3), PFN_InitMP3>);
static_assert(std::is_same_v<decltype(&decodeMP3), PFN_decodeMP3>);
static_assert(std::is_same_v<decltype(&DecodeMP3), PFN_decodeMP3>);
static_assert(std::is_same_v<decltype(&ExitMP3), PFN_ExitMP3>);
