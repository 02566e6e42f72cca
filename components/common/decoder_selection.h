// Picks the decoder class for a file from its name (and, for ".wav", from
// its format chunk), creates it through the registry and opens the file.
#pragma once

#include "components/common/interfaces.h"

namespace kiv {

inline constexpr char16_t kNoDecoderText[] = u"Cannot find appropriate decoder.";

// `owner` is the class whose ProgID a "Cannot find appropriate decoder."
// error carries. On success `decoder` holds the new decoder with the file
// open; on failure it is empty and the result is the creation's HRESULT,
// the decoder's own Open failure, or that text.
HRESULT CreateDecoderFor(const CLSID& owner, BSTR fileName, ComPtr<IKivAudioDecoder>& decoder);

// The decoder class for a name, without creating anything; false when none
// fits. ".wav" (and ".wave") files are inspected.
bool SelectDecoderClass(std::u16string_view fileName, CLSID& clsid);

}  // namespace kiv
