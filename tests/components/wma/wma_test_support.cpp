#include "tests/components/wma/wma_test_support.h"

#include <sys/wait.h>

#include <array>
#include <cmath>
#include <cstdio>

namespace kiv::test {

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'') q += "'\\''";
        else q += c;
    }
    return q + "'";
}

bool ToolAvailable(const char* name) {
    return RunTool(std::string("command -v ") + name + " >/dev/null 2>&1").status == 0;
}

ToolRun RunTool(const std::string& command, bool withStderr) {
    std::string line = command + (withStderr ? " 2>&1" : " 2>/dev/null") + " </dev/null";
    ToolRun r;
    FILE* p = ::popen(line.c_str(), "r");
    if (!p) return r;
    std::array<char, 65536> buf;
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) r.output.append(buf.data(), n);
    int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

std::string Probe(const std::string& path, const std::string& entries) {
    return RunTool("ffprobe -v error -show_entries " + Quote(entries) + " -of default=noprint_wrappers=1 " + Quote(path))
        .output;
}

std::string ProbeValue(const std::string& out, const std::string& key) {
    std::size_t at = 0;
    while ((at = out.find(key + "=", at)) != std::string::npos) {
        if (at == 0 || out[at - 1] == '\n') {
            std::size_t from = at + key.size() + 1;
            return out.substr(from, out.find('\n', from) - from);
        }
        at += key.size();
    }
    return {};
}

std::vector<unsigned char> FfmpegDecode(const std::string& path) {
    ToolRun r = RunTool("ffmpeg -v error -i " + Quote(path) + " -f s16le -");
    return std::vector<unsigned char>(r.output.begin(), r.output.end());
}

bool MutagenAvailable() { return RunTool("/usr/bin/python3 -c 'import mutagen.asf'").status == 0; }

TagPicture PatternPicture(long type, const std::string& mime, const std::u16string& description, std::size_t size,
                          int seed) {
    TagPicture p;
    p.type = type;
    p.mimeType = mime;
    p.description = description;
    for (std::size_t i = 0; i < size; ++i) p.data.push_back(static_cast<unsigned char>((i * seed + i / 256) % 256));
    return p;
}

std::string MutagenView(const std::string& path) {
    // The picture layout is parsed here on its own, not by our code.
    static const char kScript[] = R"(import sys
from mutagen.asf import ASF
path = sys.argv[1]
tags = list(ASF(path).tags)
print('Author=' + '|'.join(str(v) for k, v in tags if k == 'Author'))
for n, v in enumerate(v.value for k, v in tags if k == 'WM/Picture'):
    size = int.from_bytes(v[1:5], 'little')
    rest, texts = v[5:], []
    for _ in range(2):
        end = next(i for i in range(0, len(rest), 2) if rest[i:i + 2] == b'\0\0')
        texts.append(rest[:end].decode('utf-16-le'))
        rest = rest[end + 2:]
    print(v[0], texts[0] + '|' + texts[1], size)
    open(path + '.picture' + str(n), 'wb').write(rest[:size])
)";
    ToolRun r = RunTool("/usr/bin/python3 -c " + Quote(kScript) + " " + Quote(path), true);
    return r.status == 0 ? r.output : "mutagen failed: " + r.output;
}

std::vector<unsigned char> SinePcm(std::size_t frames, int channels, int rate, double amplitude) {
    std::vector<unsigned char> out;
    out.reserve(frames * channels * 2);
    for (std::size_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) {
            double v = amplitude * std::sin(2 * M_PI * (440.0 + 110.0 * c) * double(i) / rate);
            auto s = static_cast<std::int16_t>(std::lround(v * 32767));
            out.push_back(static_cast<unsigned char>(s & 0xFF));
            out.push_back(static_cast<unsigned char>((s >> 8) & 0xFF));
        }
    return out;
}

std::string WmaTest::TagText(IAudioTag* tag, HRESULT (IAudioTag::*get)(BSTR*)) {
    BSTR b = nullptr;
    if ((tag->*get)(&b) != S_OK) return "<error>";
    std::string s = ToUtf8(BstrView(b));
    SysFreeString(b);
    return s;
}

void WmaTest::SetTag(IAudioTag* tag, HRESULT (IAudioTag::*put)(BSTR), const std::u16string& text) {
    Bstr b(text);
    EXPECT_EQ((tag->*put)(b.get()), S_OK);
}

std::vector<unsigned char> WmaTest::ReadAll(IKivAudioDecoder* d, LONG chunk) {
    std::vector<unsigned char> all;
    std::vector<BYTE> buf(static_cast<std::size_t>(chunk));
    for (;;) {
        LONG got = -1;
        HRESULT hr = d->Read(buf.data(), chunk, &got);
        EXPECT_EQ(hr, S_OK);
        if (hr != S_OK || got <= 0) break;
        all.insert(all.end(), buf.begin(), buf.begin() + got);
    }
    return all;
}

}  // namespace kiv::test
