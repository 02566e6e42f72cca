// Test support: a temporary folder per test, a private registry with this
// build's modules registered in it, a scripted answerer for message boxes,
// and helpers to make and read WAV files.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "components/common/interfaces.h"
#include "platform/system/message_box.h"

namespace kiv::test {

namespace fs = std::filesystem;

// A fresh folder for the test, removed afterwards.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const fs::path& path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    fs::path path_;
};

// Points the process at a registry file inside `dir` and registers the
// named modules of this build (kivwave, kivconv, ...) in it.
void UseTemporaryRegistry(const TempDir& dir, std::initializer_list<const char*> modules);
std::string ModulePath(const char* baseName);

// Answers message boxes from a script and records the questions.
class ScriptedAnswers {
public:
    ScriptedAnswers();
    ~ScriptedAnswers();
    void Push(int answer) { answers_.push_back(answer); }
    struct Question {
        std::u16string text, caption;
        UINT type;
    };
    const std::vector<Question>& asked() const { return asked_; }

private:
    std::deque<int> answers_;
    std::vector<Question> asked_;
};

// A base fixture: temporary folder and registry with the WAV and converter
// modules, a scripted answerer, CoInitialize for the test's thread.
class ComponentTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    template <class I>
    ComPtr<I> Create(const CLSID& clsid, const IID& iid) {
        ComPtr<I> p;
        HRESULT hr = CoCreateInstanceChecked(clsid, iid, p.put_void());
        EXPECT_EQ(hr, S_OK);
        return p;
    }
    static HRESULT CoCreateInstanceChecked(const CLSID& clsid, const IID& iid, void** ppv);

    TempDir dir_;
    ScriptedAnswers answers_;
};

// Bytes of a file; empty when missing.
std::vector<unsigned char> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<unsigned char>& bytes);

// The samples of a RIFF/WAVE file, wherever its data chunk is; empty when
// it has none.
std::vector<unsigned char> WavSamples(const std::string& path);

// A canonical PCM WAV file (44-byte header) with `data` as samples.
std::vector<unsigned char> MakeWav(const std::vector<unsigned char>& data, int channels = 2, int rate = 44100,
                                   int bits = 16);
// Deterministic, non-trivial sample bytes.
std::vector<unsigned char> PatternBytes(std::size_t n, unsigned seed = 1);

// Error info of the last failing call on this thread: {source, description}.
std::pair<std::string, std::string> TakeError();

// Runs a shell command line; its status and what it printed (stdout and
// stderr together, when the command redirects them so).
struct CommandRun {
    int status;  // exit status, -1 when it did not exit normally
    std::string output;
};
CommandRun RunCommand(const std::string& commandLine);

// Runs ondalo-cli of this build in `cwd` with `dir`'s registry and with
// `dir` as the folder of its settings (Option.ini); `env` is put in front
// of the command (for example "KIV_SOUND=null ").
CommandRun RunOndaloCli(const TempDir& dir, const std::string& args, const std::string& cwd,
                        const std::string& env = {});

// A decoder read to its end (or its first failing Read): the PCM, the
// failing Read's error text (empty when it ended well) and the decoder's
// damage note.
struct DecodeOutcome {
    std::vector<unsigned char> pcm;
    std::string error;
    std::string damageNote;
};
DecodeOutcome DecodeToEnd(IKivAudioDecoder* decoder);
std::string DamageNoteOf(IKivAudioDecoder* decoder);

// Pumps the calling thread's queue until `done` or the time runs out.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 10000);

}  // namespace kiv::test
