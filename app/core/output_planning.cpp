#include "app/core/output_planning.h"

#include <algorithm>
#include <cctype>

namespace kiv::app {
namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

std::string Upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    return s;
}

// The extension of the file-name part, dot included; empty when there is none.
std::string Extension(const std::string& path) {
    auto slash = path.rfind('/');
    auto dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    return path.substr(dot);
}

}  // namespace

std::string NormaliseFormat(const std::string& word) {
    std::string w = Upper(word);
    if (!w.empty() && w[0] == '.') w.erase(0, 1);
    if (w == "WAV" || w == "MP3" || w == "WMA" || w == "OGG") return w;
    return {};
}

std::string DestinationFileName(const std::string& sourceFileName, const std::string& format) {
    std::string base = sourceFileName;
    if (auto dot = base.rfind('.'); dot != std::string::npos) base.resize(dot);
    return base + "." + Lower(format);
}

bool SameFormat(const std::string& sourcePath, const std::string& destinationPath) {
    return Lower(Extension(sourcePath)) == Lower(Extension(destinationPath));
}

const ClassIdentity& EncoderForPath(const std::string& destinationPath) {
    std::string ext = Lower(Extension(destinationPath));
    if (ext == ".wav") return kClassWaveEncoder;
    if (ext == ".mp3") return kClassMp3Encoder;
    if (ext == ".wma") return kClassWmaEncoder;
    return kClassVorbisEncoder;
}

std::string WithTrailingSlash(const std::string& folder) {
    if (folder.empty() || folder.back() == '/') return folder;
    return folder + "/";
}

}  // namespace kiv::app
