// Shared pieces of the WMA tests: running the reference tools, making
// fixtures with them, and a fixture with the WMA module registered.
#pragma once

#include <string>
#include <vector>

#include "components/common/tag_record.h"
#include "platform/com/connection_point.h"
#include "platform/system/text.h"
#include "tests/support/test_env.h"

namespace kiv::test {

struct ToolRun {
    int status = -1;
    std::string output;  // stdout; stderr too when asked
};

bool ToolAvailable(const char* name);
// Runs a shell command line; stdin is empty.
ToolRun RunTool(const std::string& command, bool withStderr = false);
std::string Quote(const std::string& s);

// ffprobe's answer as key=value lines for the entries asked for.
std::string Probe(const std::string& path, const std::string& entries);
// The value of `key=` in ffprobe output (first match), or "".
std::string ProbeValue(const std::string& probeOutput, const std::string& key);
// PCM as ffmpeg decodes it (16-bit, the file's own rate and channels).
std::vector<unsigned char> FfmpegDecode(const std::string& path);

// Whether /usr/bin/python3 has mutagen, the tagger the tests read and
// write WMA attributes with.
bool MutagenAvailable();
// A picture whose data is `size` bytes of a pattern seeded by `seed` (the
// same bytes as bytes((i * seed + i // 256) % 256 for i in range(size)) in
// Python).
TagPicture PatternPicture(long type, const std::string& mime, const std::u16string& description, std::size_t size,
                          int seed);
// mutagen's view of a WMA file's "Author" attributes and pictures: one line
// "Author=A|B", then per "WM/Picture" a line "type mime|description size",
// the data written to `<path>.pictureN`.
std::string MutagenView(const std::string& path);

// 16-bit PCM of a sine (different per channel), `frames` sample frames.
std::vector<unsigned char> SinePcm(std::size_t frames, int channels, int rate, double amplitude = 0.4);

// The WMA module and the WAV module registered in the test's registry.
class WmaTest : public ComponentTest {
protected:
    void SetUp() override {
        ComponentTest::SetUp();
        UseTemporaryRegistry(dir_, {"kivwma9"});
    }
    ComPtr<IKivAudioEncoder> NewEncoder() { return Create<IKivAudioEncoder>(kClassWmaEncoder.clsid, IID_IKivAudioEncoder); }
    ComPtr<IKivAudioDecoder> NewDecoder() { return Create<IKivAudioDecoder>(kClassWmaDecoder.clsid, IID_IKivAudioDecoder); }
    static HRESULT OpenBy(IKivAudioEncoder* e, const std::string& path) {
        Bstr name(FromUtf8(path));
        return e->Open(name.get());
    }
    static HRESULT OpenBy(IKivAudioDecoder* d, const std::string& path) {
        Bstr name(FromUtf8(path));
        return d->Open(name.get());
    }
    static std::string TagText(IAudioTag* tag, HRESULT (IAudioTag::*get)(BSTR*));
    static void SetTag(IAudioTag* tag, HRESULT (IAudioTag::*put)(BSTR), const std::u16string& text);
    // Reads the decoder to its end in pieces of `chunk` bytes.
    static std::vector<unsigned char> ReadAll(IKivAudioDecoder* d, LONG chunk = 65536);
};

// Events of an encoder, in the order they arrived.
struct EncoderEventLog {
    std::vector<std::pair<DISPID, std::string>> events;
    ComPtr<DispatchSink> sink = DispatchSink::Create(DIID_IKivAudioEncoderEvents, [this](DISPID id, DISPPARAMS& p) {
        events.emplace_back(id, id == DISPID_OnError ? ToUtf8(EventArgText(p, 0))
                                : id == DISPID_OnWaveEncodeProgress ? std::to_string(EventArgLong(p, 0))
                                                                    : std::string());
    });
    bool Has(DISPID id) const {
        for (const auto& e : events)
            if (e.first == id) return true;
        return false;
    }
};

}  // namespace kiv::test
