// Message texts shared by every codec. Clients match on them, so they are
// part of the interface and stay exactly as they are.
#pragma once

namespace kiv::texts {

inline constexpr char16_t kEncoderWriteNotOpen[] = u"Error: cannot write: file is not open.";
inline constexpr char16_t kEncoderPropertyNotOpen[] = u"Error: cannot access property: file is not open.";
inline constexpr char16_t kEncoderConvertNotOpen[] = u"Error: cannot convert: file is not open.";
inline constexpr char16_t kDecoderPropertyNotOpen[] = u"Error accessing property: file is not open.";
inline constexpr char16_t kDecoderSeekNotOpen[] = u"Seek error: file is not open.";
inline constexpr char16_t kDecoderReadNotOpen[] = u"Read error: file is not open.";

inline constexpr char16_t kOverwriteQuestion[] = u"File already exists. Do you wish to overwrite it?";
inline constexpr char16_t kCancelledByUser[] = u"Cancelled by user.";
inline constexpr char16_t kCannotCreateFile[] = u"Internal error #3. Cannot create file. System error message: %s.";
inline constexpr char16_t kNullHandle[] = u"Internal error #4. Null handle passed to OpenHandle method.";

inline constexpr char16_t kBadChannels[] = u"Input must have 1 or 2 channels.";
inline constexpr char16_t kBadBits[] = u"Input must have 8 or 16 bits per sample.";
inline constexpr char16_t kBadRate[] =
    u"Wrong input sample rate. Possible values are: 8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000.";
inline constexpr char16_t kOnlyPcm[] = u"Only uncompressed PCM wave format is supported.";

inline constexpr char16_t kUnableToOpenWave[] = u"Error: unable to open wave file.";
inline constexpr char16_t kEncodingAborted[] = u"Error encoding wav-file. Conversion aborted.";

// File names the system cannot take: longer than a path may be, or with a
// zero character inside (which would silently cut the name short).
inline constexpr char16_t kNameTooLong[] = u"Error: file name is too long.";
inline constexpr char16_t kNameInvalid[] = u"Error: invalid file name.";

}  // namespace kiv::texts
