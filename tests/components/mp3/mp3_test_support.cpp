#include "tests/components/mp3/mp3_test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <fcntl.h>
#include <sstream>

#include "platform/system/text.h"

namespace kiv::test {

std::vector<unsigned char> TonePcm(int frames, int channels, int rate, int bits) {
    std::vector<unsigned char> out;
    out.reserve(std::size_t(frames) * channels * (bits / 8));
    for (int i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) {
            const double v = 0.5 * std::sin(2 * M_PI * (440.0 + 110.0 * c) * i / rate);
            if (bits == 8) {
                out.push_back(static_cast<unsigned char>(std::lround(128 + 127 * v)));
            } else {
                const auto s = static_cast<std::int16_t>(std::lround(32767 * v));
                out.push_back(static_cast<unsigned char>(s & 0xFF));
                out.push_back(static_cast<unsigned char>((s >> 8) & 0xFF));
            }
        }
    }
    return out;
}

bool HaveTool(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "");
    std::string d;
    while (std::getline(dirs, d, ':'))
        if (!d.empty() && ::access((d + "/" + name).c_str(), X_OK) == 0) return true;
    return false;
}

ToolResult RunTool(const std::vector<std::string>& argv) {
    ToolResult r;
    int fds[2];
    if (::pipe(fds) != 0) return r;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], 1);
        const int devnull = ::open("/dev/null", O_RDWR);
        ::dup2(devnull, 2);
        ::dup2(devnull, 0);
        ::close(fds[0]);
        ::close(fds[1]);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0) r.out.append(buf, std::size_t(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

std::optional<Probe> FfProbe(const std::string& file) {
    const ToolResult run = RunTool({"ffprobe", "-v", "error", "-show_entries",
                                    "format=duration,bit_rate:stream=sample_rate,channels:format_tags", "-of",
                                    "default=noprint_wrappers=1", file});
    if (run.exitCode != 0) return std::nullopt;
    Probe p;
    std::istringstream lines(run.out);
    std::string line;
    while (std::getline(lines, line)) {
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (value == "N/A") continue;
        if (key == "duration") p.duration = std::stod(value);
        else if (key == "bit_rate") p.bitrate = std::stol(value);
        else if (key == "sample_rate") p.sampleRate = std::stoi(value);
        else if (key == "channels") p.channels = std::stoi(value);
        else if (key.rfind("TAG:", 0) == 0) {
            std::string k = key.substr(4);
            for (char& ch : k) ch = char(std::tolower(static_cast<unsigned char>(ch)));
            p.tags[k] = value;
        }
    }
    return p;
}

std::optional<std::string> Mpg123Pcm(const std::string& file) {
    const ToolResult run = RunTool({"mpg123", "-q", "--no-gapless", "-s", file});
    if (run.exitCode != 0) return std::nullopt;
    return run.out;
}

std::vector<unsigned char> ReadAll(IKivAudioDecoder* decoder, LONG piece) {
    std::vector<unsigned char> all;
    std::vector<unsigned char> buf(static_cast<std::size_t>(piece));
    for (;;) {
        LONG got = 0;
        if (decoder->Read(buf.data(), piece, &got) != S_OK || got <= 0) break;
        all.insert(all.end(), buf.begin(), buf.begin() + got);
    }
    return all;
}

EventLog::EventLog(const IID& eventsIid)
    : sink(DispatchSink::Create(eventsIid, [this](DISPID id, DISPPARAMS& p) {
          std::u16string arg;
          if (id == DISPID_OnError) arg = EventArgText(p, 0);
          else if (id == DISPID_OnWaveEncodeProgress) arg = FromUtf8(std::to_string(EventArgLong(p, 0)));
          events.emplace_back(id, arg);
      })) {}

bool EventLog::Has(DISPID id) const {
    for (const auto& e : events)
        if (e.first == id) return true;
    return false;
}

void Mp3ComponentTest::SetUp() {
    ComponentTest::SetUp();
    UseTemporaryRegistry(dir_, {"kivmp3"});
}

ComPtr<IKivAudioEncoder> Mp3ComponentTest::NewEncoder() {
    return Create<IKivAudioEncoder>(kClassMp3Encoder.clsid, IID_IKivAudioEncoder);
}

ComPtr<IKivAudioDecoder> Mp3ComponentTest::NewDecoder() {
    return Create<IKivAudioDecoder>(kClassMp3Decoder.clsid, IID_IKivAudioDecoder);
}

HRESULT Mp3ComponentTest::OpenEncoder(IKivAudioEncoder* e, const std::string& path) {
    Bstr name(FromUtf8(path));
    return e->Open(name.get());
}

HRESULT Mp3ComponentTest::OpenDecoder(IKivAudioDecoder* d, const std::string& path) {
    Bstr name(FromUtf8(path));
    return d->Open(name.get());
}

void Mp3ComponentTest::SetTag(IKivAudioEncoder* e, HRESULT (IAudioTag::*put)(BSTR), std::u16string_view value) {
    ComPtr<IAudioTag> tag;
    ASSERT_EQ(e->get_TagData(tag.put()), S_OK);
    Bstr v(value);
    ASSERT_EQ((tag.get()->*put)(v.get()), S_OK);
}

std::u16string Mp3ComponentTest::GetTag(IUnknown* codec, HRESULT (IAudioTag::*get)(BSTR*)) {
    ComPtr<IAudioTag> tag;
    if (codec->QueryInterface(IID_IAudioTag, tag.put_void()) != S_OK) return u"<no tag object>";
    Bstr v;
    if ((tag.get()->*get)(v.put()) != S_OK) return u"<failed>";
    return std::u16string(v.view());
}

HRESULT Mp3ComponentTest::EncodeTo(IKivAudioEncoder* e, const std::string& path,
                                   const std::vector<unsigned char>& pcm) {
    if (HRESULT hr = OpenEncoder(e, path); FAILED(hr)) return hr;
    std::vector<unsigned char> copy = pcm;
    // Uneven pieces, so the pipe sees writes that split sample frames.
    for (std::size_t at = 0; at < copy.size();) {
        const std::size_t n = std::min<std::size_t>(copy.size() - at, 10001);
        if (HRESULT hr = e->Write(copy.data() + at, LONG(n)); FAILED(hr)) return hr;
        at += n;
    }
    return e->Close();
}

}  // namespace kiv::test
