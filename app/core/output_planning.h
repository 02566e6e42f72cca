// Where a converted file goes, in which format, and which encoder writes it.
#pragma once

#include <string>

#include "components/common/identities.h"

namespace kiv::app {

// "WAV", "MP3", "WMA", "OGG" from a user's word (any case); empty when unknown.
std::string NormaliseFormat(const std::string& word);

// The source file name without its extension (from its last '.') + "." +
// the format in lower case: Song.Mp3 with WAV gives Song.wav.
std::string DestinationFileName(const std::string& sourceFileName, const std::string& format);

// Both extensions compared in lower case: ".MP3" and ".mp3" are the same
// format, ".wave" and ".wav" are not.
bool SameFormat(const std::string& sourcePath, const std::string& destinationPath);

// The encoder class for a destination, by its extension in lower case:
// ".wav", ".mp3", ".wma", anything else Ogg Vorbis.
const ClassIdentity& EncoderForPath(const std::string& destinationPath);

// The folder text with a trailing '/' added unless it already ends in one;
// an empty text stays empty.
std::string WithTrailingSlash(const std::string& folder);

}  // namespace kiv::app
