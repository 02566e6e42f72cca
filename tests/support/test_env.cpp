#include "tests/support/test_env.h"

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>

#include "platform/com/class_registry.h"
#include "platform/system/text.h"

namespace kiv::test {

TempDir::TempDir() {
    std::string templ = (fs::temp_directory_path() / "ondalo-test-XXXXXX").string();
    char* made = ::mkdtemp(templ.data());
    if (!made) throw std::runtime_error("mkdtemp failed");
    path_ = made;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string ModulePath(const char* baseName) { return std::string(ONDALO_BUILD_DIR) + "/lib/" + baseName + ".so"; }

void UseTemporaryRegistry(const TempDir& dir, std::initializer_list<const char*> modules) {
    ::setenv("KIV_REGISTRY", (dir / "registry.reg").c_str(), 1);
    for (const char* m : modules) {
        std::string error;
        HRESULT hr = RegisterModule(ModulePath(m), false, &error);
        ASSERT_EQ(hr, S_OK) << m << ": " << error;
    }
}

ScriptedAnswers::ScriptedAnswers() {
    SetMessageBoxProvider([this](HWND, const std::u16string& text, const std::u16string& caption, UINT type) {
        asked_.push_back({text, caption, type});
        if (answers_.empty()) return SafeAnswer(type);
        int a = answers_.front();
        answers_.pop_front();
        return a;
    });
}

ScriptedAnswers::~ScriptedAnswers() { SetMessageBoxProvider({}); }

void ComponentTest::SetUp() {
    CoInitialize(nullptr);
    UseTemporaryRegistry(dir_, {"kivwave", "kivconv"});
}

void ComponentTest::TearDown() {
    PumpPendingMessages();
    CoUninitialize();
    ::unsetenv("KIV_REGISTRY");
}

HRESULT ComponentTest::CoCreateInstanceChecked(const CLSID& clsid, const IID& iid, void** ppv) {
    return CoCreateInstance(clsid, nullptr, CLSCTX_ALL, iid, ppv);
}

std::vector<unsigned char> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

void WriteFileBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<unsigned char> WavSamples(const std::string& path) {
    const std::vector<unsigned char> file = ReadFileBytes(path);
    std::size_t at = 12;
    while (at + 8 <= file.size()) {
        std::uint32_t size = 0;
        std::memcpy(&size, &file[at + 4], 4);
        if (std::memcmp(&file[at], "data", 4) == 0) {
            const std::size_t end = std::min(file.size(), at + 8 + size);
            return std::vector<unsigned char>(file.begin() + static_cast<long>(at + 8),
                                              file.begin() + static_cast<long>(end));
        }
        at += 8 + size + (size & 1);
    }
    return {};
}

static void Put32(std::vector<unsigned char>& v, std::uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<unsigned char>(x >> (8 * i)));
}
static void Put16(std::vector<unsigned char>& v, std::uint16_t x) {
    v.push_back(static_cast<unsigned char>(x));
    v.push_back(static_cast<unsigned char>(x >> 8));
}

std::vector<unsigned char> MakeWav(const std::vector<unsigned char>& data, int channels, int rate, int bits) {
    std::vector<unsigned char> v;
    const std::uint16_t align = static_cast<std::uint16_t>(channels * bits / 8);
    v.insert(v.end(), {'R', 'I', 'F', 'F'});
    Put32(v, static_cast<std::uint32_t>(36 + data.size() + (data.size() & 1)));
    v.insert(v.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    Put32(v, 16);
    Put16(v, 1);
    Put16(v, static_cast<std::uint16_t>(channels));
    Put32(v, static_cast<std::uint32_t>(rate));
    Put32(v, static_cast<std::uint32_t>(rate) * align);
    Put16(v, align);
    Put16(v, static_cast<std::uint16_t>(bits));
    v.insert(v.end(), {'d', 'a', 't', 'a'});
    Put32(v, static_cast<std::uint32_t>(data.size()));
    v.insert(v.end(), data.begin(), data.end());
    if (data.size() & 1) v.push_back(0);
    return v;
}

std::vector<unsigned char> PatternBytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::vector<unsigned char> v(n);
    for (auto& b : v) b = static_cast<unsigned char>(gen());
    return v;
}

std::pair<std::string, std::string> TakeError() {
    std::u16string source, description;
    TakeErrorInfo(source, description);
    return {ToUtf8(source), ToUtf8(description)};
}

DecodeOutcome DecodeToEnd(IKivAudioDecoder* decoder) {
    DecodeOutcome outcome;
    std::vector<unsigned char> buf(65536);
    for (;;) {
        LONG got = 0;
        if (FAILED(decoder->Read(buf.data(), LONG(buf.size()), &got))) {
            outcome.error = TakeError().second;
            break;
        }
        if (got <= 0) break;
        outcome.pcm.insert(outcome.pcm.end(), buf.begin(), buf.begin() + got);
    }
    outcome.damageNote = DamageNoteOf(decoder);
    return outcome;
}

std::string DamageNoteOf(IKivAudioDecoder* decoder) {
    ComPtr<IKivDecodeReport> report;
    if (FAILED(decoder->QueryInterface(IID_IKivDecodeReport, report.put_void()))) return "(no IKivDecodeReport)";
    Bstr note;
    if (FAILED(report->get_DamageNote(note.put()))) return "(get_DamageNote failed)";
    return ToUtf8(note.view());
}

CommandRun RunCommand(const std::string& commandLine) {
    CommandRun r{-1, {}};
    FILE* p = ::popen(commandLine.c_str(), "r");
    if (!p) return r;
    std::array<char, 4096> buf;
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) r.output.append(buf.data(), n);
    int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

CommandRun RunOndaloCli(const TempDir& dir, const std::string& args, const std::string& cwd, const std::string& env) {
    // Settings come from the test's folder too, never from beside the program.
    return RunCommand("cd '" + cwd + "' && " + env + "ONDALO_CONFIG_DIR='" + dir.path().string() + "' KIV_REGISTRY='" +
                      (dir / "registry.reg") + "' '" +
                      ONDALO_BUILD_DIR + "/bin/ondalo-cli' " + args + " 2>&1 </dev/null");
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        WaitMessage(50);
        PumpPendingMessages();
    }
    return true;
}

}  // namespace kiv::test
