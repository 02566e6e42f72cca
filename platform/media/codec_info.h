// Enumeration of the audio codecs the runtime can write and of their
// formats, as a profile builder walks them.
#pragma once

#include <memory>
#include <string_view>

#include "platform/media/stream_config.h"

namespace kiv::media {

// One audio codec is offered: Windows Media Audio (format tag 0x161), for
// mono and stereo at 8000 to 48000 Hz. With the "_VBRENABLED" setting off
// (the default) its formats are constant-bitrate ones at the usual
// bitrates; with it on they are quality-level formats whose
// nAvgBytesPerSec carries the level (10, 25, 50, 75, 90, 98) in its low
// byte. There are no video codecs.
class CodecInfo {
public:
    HRESULT GetCodecInfoCount(const GUID& majorType, DWORD* count) const;
    HRESULT GetCodecFormatCount(const GUID& majorType, DWORD codecIndex, DWORD* count) const;
    // A stream configuration for the format: its media type carries the
    // WAVEFORMATEX with the codec's setup bytes; its bitrate is set for
    // constant-bitrate formats and 0 for quality-level ones.
    HRESULT GetCodecFormat(const GUID& majorType, DWORD codecIndex, DWORD formatIndex,
                           std::unique_ptr<StreamConfig>& out) const;

    // Only "_VBRENABLED" (a 4-byte BOOL) is known; other names give
    // E_INVALIDARG.
    HRESULT SetCodecEnumerationSetting(const GUID& majorType, DWORD codecIndex, std::u16string_view name,
                                       AttrType type, const BYTE* value, DWORD length);
    HRESULT GetCodecEnumerationSetting(const GUID& majorType, DWORD codecIndex, std::u16string_view name,
                                       AttrType* type, BYTE* value, DWORD* length) const;

private:
    HRESULT CheckCodec(const GUID& majorType, DWORD codecIndex) const;

    bool vbrEnabled_ = false;
};

}  // namespace kiv::media
