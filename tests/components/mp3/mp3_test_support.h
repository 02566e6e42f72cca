// Shared by the MP3 component tests: a fixture with the MP3 module in the
// temporary registry, generated tones, whole-stream decoding through our
// decoder, and what the field's tools (ffprobe, mpg123, lame) make of files.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/com/connection_point.h"
#include "tests/support/test_env.h"

namespace kiv::test {

// Interleaved PCM of a tone (a different pitch per channel), 8-bit unsigned
// or 16-bit signed little-endian.
std::vector<unsigned char> TonePcm(int frames, int channels, int rate, int bits);

bool HaveTool(const std::string& name);
struct ToolResult {
    int exitCode = -1;
    std::string out;
};
// Runs a tool from PATH without a shell; standard error is dropped.
ToolResult RunTool(const std::vector<std::string>& argv);

struct Probe {
    double duration = 0;
    long bitrate = 0;
    int sampleRate = 0;
    int channels = 0;
    std::map<std::string, std::string> tags;  // format tags, keys in lower case
};
std::optional<Probe> FfProbe(const std::string& file);

// The 16-bit PCM that mpg123 decodes from the file, every frame whole (no
// gapless trimming), as our decoder delivers it; nullopt when it fails.
std::optional<std::string> Mpg123Pcm(const std::string& file);

// Reads the decoder to its end in pieces of `piece` bytes.
std::vector<unsigned char> ReadAll(IKivAudioDecoder* decoder, LONG piece = 65536);

// Records the events of a codec: ids with their text or number argument.
struct EventLog {
    explicit EventLog(const IID& events);
    std::vector<std::pair<DISPID, std::u16string>> events;
    ComPtr<DispatchSink> sink;
    bool Has(DISPID id) const;
};

class Mp3ComponentTest : public ComponentTest {
protected:
    void SetUp() override;

    ComPtr<IKivAudioEncoder> NewEncoder();
    ComPtr<IKivAudioDecoder> NewDecoder();
    static HRESULT OpenEncoder(IKivAudioEncoder* e, const std::string& path);
    static HRESULT OpenDecoder(IKivAudioDecoder* d, const std::string& path);
    static void SetTag(IKivAudioEncoder* e, HRESULT (IAudioTag::*put)(BSTR), std::u16string_view value);
    static std::u16string GetTag(IUnknown* codec, HRESULT (IAudioTag::*get)(BSTR*));
    // Encodes pcm into path with the encoder as configured; Close's result.
    static HRESULT EncodeTo(IKivAudioEncoder* e, const std::string& path, const std::vector<unsigned char>& pcm);
};

}  // namespace kiv::test
