// Public interface of mpglib.so, the MPEG audio decoder library that the
// MP3 component binds by name at run time.
//
// The caller owns the state record (MPSTR): it zero-fills it, calls InitMP3,
// feeds the stream through decodeMP3 and ends with ExitMP3; it may then
// zero-fill and InitMP3 it again to start afresh (after a seek or an error).
//
// decodeMP3(state, input, inputSize, output, outputSize, &done):
//   appends the input (which may be none: null and 0) to the stream and
//   writes decoded PCM, interleaved signed 16-bit in host byte order at the
//   stream's own sample rate and channel count, into the output area:
//   MP3_OK (0)         `done` bytes were produced; call again without input,
//                      there may be more. Output comes one decoded frame
//                      per call at most; a frame larger than the area is
//                      handed out over several calls.
//   MP3_NEED_MORE (1)  nothing more can be decoded without more input;
//                      `done` is 0. At the end of the input this answer
//                      simply repeats: the end is the caller's to know.
//   MP3_ERR (-1)       bad arguments, or the data has lost synchronisation
//                      (no frame within the decoder's resync window); the
//                      caller should find the next frame and start afresh.
//                      Also when the stream changes its sample rate or
//                      channel count: output keeps one format from one
//                      InitMP3 to the next.
// Every frame is delivered whole: encoder delay and padding are not trimmed,
// so the output length is the frame count times the samples per frame, the
// count a "Xing"/"Info" header or a CBR frame-length scan gives. A leading
// "Xing"/"Info" frame holds no audio and gives none.
#pragma once

#include <cstdint>

namespace kiv::mpglib {

class FeedDecoder;

// File the component loads; the entry points below are looked up in it.
// The decode entry point is exported under both spellings.
inline constexpr const char* kLibraryFileName = "mpglib.so";
inline constexpr const char* kInitName = "InitMP3";
inline constexpr const char* kDecodeName = "DecodeMP3";
inline constexpr const char* kDecodeNameLower = "decodeMP3";
inline constexpr const char* kExitName = "ExitMP3";

inline constexpr int MP3_ERR = -1;
inline constexpr int MP3_OK = 0;
inline constexpr int MP3_NEED_MORE = 1;

// The decoder state record. Its inside belongs to the library.
struct MPSTR {
    FeedDecoder* decoder;
};
using PMPSTR = MPSTR*;

// Returns non-zero on success.
using PFN_InitMP3 = int (*)(PMPSTR state);
using PFN_decodeMP3 = int (*)(PMPSTR state, const unsigned char* input, int inputSize, char* output,
                              int outputSize, int* done);
using PFN_ExitMP3 = void (*)(PMPSTR state);

}  // namespace kiv::mpglib
