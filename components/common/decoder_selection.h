// Picks the decoder class for a file from its first bytes or its name,
// creates it through the registry and opens the file.
#pragma once

#include <cstdint>
#include <string>

#include "components/common/interfaces.h"

namespace kiv {

inline constexpr char16_t kNoDecoderText[] = u"Cannot find appropriate decoder.";

// `owner` is the class whose ProgID a "Cannot find appropriate decoder."
// error carries. On success `decoder` holds the new decoder with the file
// open; on failure it is empty and the result is the creation's HRESULT,
// the decoder's own Open failure, or that text.
HRESULT CreateDecoderFor(const CLSID& owner, BSTR fileName, ComPtr<IKivAudioDecoder>& decoder);

// The decoder class for a file, without creating anything; false when none
// fits. The file's first bytes decide (RIFF/WAVE, fLaC, OggS with an Opus
// or another first packet, an ID3v2 tag or an MPEG audio frame, the ASF
// header; behind an ID3v2 tag, fLaC is FLAC and anything else MPEG); when
// they say nothing, the extension does (".wma", ".mp3", ".ogg", ".oga",
// ".wav", ".wave", ".flac", ".opus"). WAV files are inspected further: PCM
// opens with the WAV decoder, MPEG layer 3 with the MP3 decoder, any other
// format with none.
bool SelectDecoderClass(std::u16string_view fileName, CLSID& clsid);

// The length of the ID3v2 tag that starts with `head` (`got` bytes of the
// file's start): header, body and footer if any; 0 when `head` holds no
// tag header or its size field is malformed.
std::uint64_t Id3v2TagLength(const std::uint8_t* head, long got);

// What a file's first bytes show it to be.
enum class ContentKind { unknown, wave, ogg, mpeg, asf, flac, opus };
ContentKind SniffContent(const std::string& path);

}  // namespace kiv
