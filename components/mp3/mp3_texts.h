// Message texts of the MP3 encoder and decoder. Clients match on them, so
// they stay exactly as they are, numbering and punctuation included.
#pragma once

namespace kiv::mp3::texts {

// Encoder.
inline constexpr char16_t kLameNotLoaded[] = u"Internal error #1. Lame_enc.dll could not be loaded.";
inline constexpr char16_t kCannotInitEncoder[] = u"Internal error #2. Cannot initialize encoding engine.";
inline constexpr char16_t kInitStreamPlain[] = u"Internal error #5. beInitStream failed.";
inline constexpr char16_t kInitStreamPreset[] = u"Internal error #6. beInitStream failed.";
inline constexpr char16_t kDeinitFailed[] = u"Internal error #10.";
inline constexpr char16_t kFlushWriteFailed[] = u"Internal error #11. Write error. System error message: %s.";
inline constexpr char16_t kTagCreateTemporary[] =
    u"Internal error #12. Cannot write id3v2 tag. System error message: %s.";
inline constexpr char16_t kTagWrite[] = u"Internal error #13. Cannot write id3v2 tag. System error message: %s.";
inline constexpr char16_t kTagOpenSource[] = u"Internal error #14. Cannot write id3v2 tag. System error message: %s.";
inline constexpr char16_t kTagReadSource[] = u"Internal error #15. Cannot write id3v2 tag. System error message: %s.";
inline constexpr char16_t kTagWriteCopy[] = u"Internal error #16. Cannot write id3v2 tag. System error message: %s.";
inline constexpr char16_t kEncodeFailed8[] = u"Internal error #17. Encoding failed.";
inline constexpr char16_t kWriteFailed8[] = u"Internal error #18. Cannot write. System error message: %s";
inline constexpr char16_t kEncodeFailed16[] = u"Internal error #19. Encoding failed.";
inline constexpr char16_t kWriteFailed16[] = u"Internal error #20. Cannot write. System error message: %s";
inline constexpr char16_t kNoVbrPreset[] = u"VBR preset could not be selected.";
inline constexpr char16_t kBadQuality[] = u"fQuality must be between 0 and 1.";
inline constexpr char16_t kBadAverageBitrate[] = u"Bitrate must be between 80000 and 320000 in ABR mode.";
inline constexpr char16_t kBadConstantBitrate[] = u"Wrong bitrate specified for this input format.";

// Decoder.
inline constexpr char16_t kMpglibNotLoaded[] = u"Internal error #1. mpglib.dll could not be loaded.";
inline constexpr char16_t kCannotInitDecoder[] = u"Internal error #2. Cannot initialize decoding engine.";
inline constexpr char16_t kUnexpectedEnd[] = u"Unexpected end of file.";
inline constexpr char16_t kStreamNotFound[] = u"MP3 stream not found in file.";
// Reported by the decoding thread through OnError. The stream ends early in
// each case; without a word the client would take a cut stream for whole.
inline constexpr char16_t kDecoderReadFailed[] = u"Internal error #3. Cannot read file. System error message: %s.";
inline constexpr char16_t kNoCompleteFrame[] =
    u"Unexpected end of file: the MP3 stream holds no complete audio frame.";

}  // namespace kiv::mp3::texts
