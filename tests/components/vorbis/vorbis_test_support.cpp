#include "tests/components/vorbis/vorbis_test_support.h"

#include <sys/wait.h>
#include <vorbis/vorbisenc.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>

namespace kiv::test {

std::vector<unsigned char> SinePcm(std::size_t frames, int channels, int rate, int bits, double amplitude) {
    std::vector<unsigned char> out;
    out.reserve(frames * std::size_t(channels) * std::size_t(bits / 8));
    for (std::size_t i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) {
            double v = amplitude * std::sin(2 * M_PI * (440.0 + 220.0 * c) * double(i) / rate);
            if (bits == 8) {
                out.push_back(static_cast<unsigned char>(std::lround(128 + v * 127)));
            } else {
                auto s = static_cast<std::int16_t>(std::lround(v * 32767));
                out.push_back(static_cast<unsigned char>(s & 0xFF));
                out.push_back(static_cast<unsigned char>((s >> 8) & 0xFF));
            }
        }
    }
    return out;
}

ToolRun RunTool(const std::string& command) {
    ToolRun r;
    FILE* p = ::popen((command + " 2>&1 </dev/null").c_str(), "r");
    if (!p) return r;
    std::array<char, 4096> buf;
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) r.output.append(buf.data(), n);
    int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

bool HaveTool(const char* name) { return RunTool(std::string("command -v ") + name).status == 0; }

void MakeOggWithComments(const std::string& path, const std::vector<std::string>& comments, double seconds, int rate,
                         int channels) {
    vorbis_info vi;
    vorbis_info_init(&vi);
    ASSERT_EQ(vorbis_encode_init_vbr(&vi, channels, rate, 0.1f), 0);
    vorbis_comment vc;
    vorbis_comment_init(&vc);
    // The library copies the bytes as they are, well-formed or not.
    for (const std::string& c : comments) vorbis_comment_add(&vc, c.c_str());
    vorbis_dsp_state vd;
    vorbis_block vb;
    vorbis_analysis_init(&vd, &vi);
    vorbis_block_init(&vd, &vb);
    ogg_stream_state os;
    ogg_stream_init(&os, 12345);
    ogg_packet h, hc, hcode;
    vorbis_analysis_headerout(&vd, &vc, &h, &hc, &hcode);
    ogg_stream_packetin(&os, &h);
    ogg_stream_packetin(&os, &hc);
    ogg_stream_packetin(&os, &hcode);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    ogg_page og;
    auto put = [&](const ogg_page& p) {
        out.write(reinterpret_cast<const char*>(p.header), p.header_len);
        out.write(reinterpret_cast<const char*>(p.body), p.body_len);
    };
    while (ogg_stream_flush(&os, &og)) put(og);
    const long total = std::lround(seconds * rate);
    long done = 0;
    bool eos = false;
    while (!eos) {
        const long n = std::min(1024L, total - done);
        if (n > 0) {
            float** buf = vorbis_analysis_buffer(&vd, int(n));
            for (long i = 0; i < n; ++i)
                for (int c = 0; c < channels; ++c) buf[c][i] = 0.2f * float(std::sin(2 * M_PI * 330 * double(done + i) / rate));
            vorbis_analysis_wrote(&vd, int(n));
            done += n;
        } else {
            vorbis_analysis_wrote(&vd, 0);
        }
        while (vorbis_analysis_blockout(&vd, &vb) == 1) {
            vorbis_analysis(&vb, nullptr);
            vorbis_bitrate_addblock(&vb);
            ogg_packet op;
            while (vorbis_bitrate_flushpacket(&vd, &op)) {
                ogg_stream_packetin(&os, &op);
                while (ogg_stream_pageout(&os, &og)) {
                    put(og);
                    if (ogg_page_eos(&og)) eos = true;
                }
            }
        }
    }
    ogg_stream_clear(&os);
    vorbis_block_clear(&vb);
    vorbis_dsp_clear(&vd);
    vorbis_comment_clear(&vc);
    vorbis_info_clear(&vi);
}

std::uint32_t FirstSerial(const std::string& path) {
    auto b = ReadFileBytes(path);
    if (b.size() < 27 || b[0] != 'O' || b[1] != 'g' || b[2] != 'g' || b[3] != 'S') return 0;
    return std::uint32_t(b[14]) | std::uint32_t(b[15]) << 8 | std::uint32_t(b[16]) << 16 | std::uint32_t(b[17]) << 24;
}

long WavDataSize(const std::string& path) {
    auto b = ReadFileBytes(path);
    auto u32 = [&](std::size_t at) {
        return std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8 | std::uint32_t(b[at + 2]) << 16 |
               std::uint32_t(b[at + 3]) << 24;
    };
    if (b.size() < 12) return -1;
    std::size_t at = 12;
    while (at + 8 <= b.size()) {
        std::uint32_t size = u32(at + 4);
        if (std::equal(b.begin() + long(at), b.begin() + long(at) + 4, "data")) return long(size);
        at += 8 + size + (size & 1);
    }
    return -1;
}

std::vector<unsigned char> VorbisTest::ReadAll(IKivAudioDecoder* dec, LONG chunk) {
    std::vector<unsigned char> out;
    std::vector<BYTE> buf(static_cast<std::size_t>(chunk));
    for (;;) {
        LONG n = -2;
        HRESULT hr = dec->Read(buf.data(), chunk, &n);
        EXPECT_EQ(hr, S_OK);
        if (FAILED(hr) || n <= 0) break;
        out.insert(out.end(), buf.begin(), buf.begin() + n);
    }
    return out;
}

}  // namespace kiv::test
