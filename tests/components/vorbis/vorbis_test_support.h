// Shared by the Ogg Vorbis tests: a fixture with the module registered,
// generated signals, files made directly with libvorbis (for comment bytes
// no tool would write), and the reference tools run as child processes.
#pragma once

#include <string>
#include <vector>

#include "tests/support/test_env.h"

namespace kiv::test {

// Interleaved PCM of a sine (a different pitch per channel), `frames`
// frames long, 8-bit unsigned or 16-bit signed little-endian.
std::vector<unsigned char> SinePcm(std::size_t frames, int channels, int rate, int bits, double amplitude = 0.5);

struct ToolRun {
    int status = -1;
    std::string output;  // stdout and stderr together
};
// Runs a shell command line (stdin from /dev/null).
ToolRun RunTool(const std::string& command);
bool HaveTool(const char* name);

// Writes an Ogg Vorbis file with exactly these raw comment strings (no
// checks on the bytes), `seconds` of a quiet tone.
void MakeOggWithComments(const std::string& path, const std::vector<std::string>& comments, double seconds = 1.0,
                         int rate = 44100, int channels = 2);

// Serial number of the first page of an Ogg file; 0 when it is not one.
std::uint32_t FirstSerial(const std::string& path);

// The data chunk size of a canonical WAV file as the reference tools write
// it (walks the chunks); -1 when there is none.
long WavDataSize(const std::string& path);

class VorbisTest : public ComponentTest {
protected:
    void SetUp() override {
        ComponentTest::SetUp();
        UseTemporaryRegistry(dir_, {"kivvorbis"});
    }
    ComPtr<IKivAudioEncoder> NewEncoder() {
        return Create<IKivAudioEncoder>(kClassVorbisEncoder.clsid, IID_IKivAudioEncoder);
    }
    ComPtr<IKivAudioDecoder> NewDecoder() {
        return Create<IKivAudioDecoder>(kClassVorbisDecoder.clsid, IID_IKivAudioDecoder);
    }
    // Reads until Read delivers 0 bytes.
    static std::vector<unsigned char> ReadAll(IKivAudioDecoder* dec, LONG chunk = 65536);
};

}  // namespace kiv::test
