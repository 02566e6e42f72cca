// ReplayGain measured while encoding, in every compressed format: the
// values against ffmpeg's EBU R128 meter on the file written, in the form
// the usual taggers read (python3-mutagen), the file still sound.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <regex>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

#include "platform/system/text.h"
#include "tests/components/vorbis/vorbis_test_support.h"

namespace kiv::test {
namespace {

struct Format {
    const char* name;
    const ClassIdentity* encoder;
    const ClassIdentity* decoder;
    const char* extension;
    // How mutagen names the gain and peak; the peak is empty for Opus,
    // whose R128_TRACK_GAIN is the gain to -23 LUFS in 1/256 dB.
    const char* gainKey;
    const char* peakKey;
};

const Format kFormats[] = {
    {"FLAC", &kClassFlacEncoder, &kClassFlacDecoder, ".flac", "REPLAYGAIN_TRACK_GAIN", "REPLAYGAIN_TRACK_PEAK"},
    {"Vorbis", &kClassVorbisEncoder, &kClassVorbisDecoder, ".ogg", "REPLAYGAIN_TRACK_GAIN", "REPLAYGAIN_TRACK_PEAK"},
    {"Opus", &kClassOpusEncoder, &kClassOpusDecoder, ".opus", "R128_TRACK_GAIN", ""},
    {"MP3", &kClassMp3Encoder, &kClassMp3Decoder, ".mp3", "TXXX:REPLAYGAIN_TRACK_GAIN", "TXXX:REPLAYGAIN_TRACK_PEAK"},
    {"WMA", &kClassWmaEncoder, &kClassWmaDecoder, ".wma", "REPLAYGAIN_TRACK_GAIN", "REPLAYGAIN_TRACK_PEAK"},
};

std::string Quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// A signal with some life in it: sines whose level swells and falls.
std::vector<unsigned char> Music(std::size_t frames, int channels, int rate, double level) {
    std::vector<unsigned char> pcm = SinePcm(frames, channels, rate, 16, level);
    for (std::size_t i = 0; i < frames; ++i) {
        const double envelope = 0.55 + 0.45 * std::sin(2 * M_PI * 0.7 * double(i) / rate);
        for (int c = 0; c < channels; ++c) {
            unsigned char* p = &pcm[(i * channels + c) * 2];
            const int v = int(std::lround(std::int16_t(p[0] | p[1] << 8) * envelope));
            p[0] = std::uint8_t(v);
            p[1] = std::uint8_t(v >> 8);
        }
    }
    return pcm;
}

struct TrackGain {
    double gainDb = 0, peak = 0;
};

struct Loudness {
    double integrated = NAN;  // LUFS
    double peakDb = NAN;      // dBFS
};

// What ffmpeg's ebur128 filter reports for a file (one decimal).
Loudness FfmpegLoudness(const std::string& path) {
    const ToolRun r = RunTool("ffmpeg -nostats -hide_banner -i " + Quote(path) + " -af ebur128=peak=sample -f null -");
    Loudness l;
    std::smatch m;
    std::string text = r.output;
    const auto summary = text.rfind("Summary:");
    if (summary == std::string::npos) return l;
    text = text.substr(summary);
    if (std::regex_search(text, m, std::regex(R"(I:\s+(-?[0-9.]+) LUFS)"))) l.integrated = std::stod(m[1]);
    if (std::regex_search(text, m, std::regex(R"(Peak:\s+(-?[0-9.]+) dBFS)"))) l.peakDb = std::stod(m[1]);
    return l;
}

// Key=value lines of the tags mutagen reads, the values joined by "|".
std::map<std::string, std::string> MutagenTags(const std::string& path) {
    static const char kScript[] = R"(import sys, mutagen
f = mutagen.File(sys.argv[1])
for k in sorted(f.tags.keys()):
    v = f.tags[k]
    vals = v if isinstance(v, list) else [v]
    out = []
    for x in vals:
        out.append(str(x.value) if hasattr(x, 'value') else (str(x.text[0]) if hasattr(x, 'text') else str(x)))
    print(k.upper() if not k.startswith('TXXX') else k, '=', '|'.join(out), sep='')
)";
    const ToolRun r = RunTool("/usr/bin/python3 -c " + Quote(kScript) + " " + Quote(path) + " 2>&1");
    std::map<std::string, std::string> tags;
    std::size_t at = 0;
    while (at < r.output.size()) {
        const std::size_t end = std::min(r.output.find('\n', at), r.output.size());
        const std::string line = r.output.substr(at, end - at);
        const auto eq = line.find('=');
        if (eq != std::string::npos) tags[line.substr(0, eq)] = line.substr(eq + 1);
        at = end + 1;
    }
    EXPECT_EQ(r.status, 0) << r.output;
    return tags;
}

class ReplayGainTest : public ComponentTest {
protected:
    void SetUp() override {
        ComponentTest::SetUp();
        UseTemporaryRegistry(dir_, {"kivflac", "kivopus", "kivvorbis", "kivmp3", "kivwma9", "kivconv"});
        if (!HaveTool("ffmpeg") || RunTool("/usr/bin/python3 -c 'import mutagen'").status != 0)
            GTEST_SKIP() << "ffmpeg or python3-mutagen missing";
    }

    // Encodes `pcm` (16-bit) with a title, a field of each kind and, where
    // asked, a stale gain, measuring as told. Returns the encoder, closed.
    ComPtr<IKivAudioEncoder> Encode(const Format& f, const std::string& path, const std::vector<unsigned char>& pcm,
                                    int channels, int rate, bool measure, const char* givenGain = nullptr,
                                    std::size_t pictureBytes = 0) {
        auto enc = Create<IKivAudioEncoder>(f.encoder->clsid, IID_IKivAudioEncoder);
        EXPECT_EQ(enc->put_OverwritePrompt(VARIANT_FALSE), S_OK);
        ComPtr<IKivReplayGain> gain;
        EXPECT_EQ(enc.As(IID_IKivReplayGain, gain), S_OK);
        if (gain) {
            EXPECT_EQ(gain->put_MeasureTrackGain(measure ? VARIANT_TRUE : VARIANT_FALSE), S_OK);
        }
        ComPtr<IAudioTag> tags;
        EXPECT_EQ(enc->get_TagData(tags.put()), S_OK);
        EXPECT_EQ(tags->put_Title(Bstr(u"Swell").get()), S_OK);
        ComPtr<IKivTagFields> fields;
        EXPECT_EQ(enc.As(IID_IKivTagFields, fields), S_OK);
        EXPECT_EQ(fields->SetField(Bstr(u"MUSICBRAINZ_ALBUMID").get(), Bstr(u"3f1c9a8e-0000-4000-8000-000000000001").get()),
                  S_OK);
        if (givenGain) {
            EXPECT_EQ(fields->SetField(Bstr(u"REPLAYGAIN_TRACK_GAIN").get(), Bstr(FromUtf8(givenGain)).get()), S_OK);
        }
        if (pictureBytes > 0) {
            ComPtr<IKivTagPictures> pictures;
            EXPECT_EQ(enc.As(IID_IKivTagPictures, pictures), S_OK);
            TagPicture p;
            p.mimeType = "image/jpeg";
            for (std::size_t i = 0; i < pictureBytes; ++i) p.data.push_back(std::uint8_t(i * 7 + i / 251));
            EXPECT_EQ(pictures->AddPicture(&p), S_OK);
        }
        EXPECT_EQ(enc->Open(Bstr(FromUtf8(path)).get()), S_OK);
        EXPECT_EQ(enc->SetInputFormat(channels, rate, 16), S_OK);
        // Uneven writes: the measurement must not depend on how they are cut.
        std::size_t at = 0, step = 3000;
        while (at < pcm.size()) {
            const std::size_t n = std::min(step, pcm.size() - at);
            EXPECT_EQ(enc->Write(const_cast<BYTE*>(pcm.data() + at), LONG(n)), S_OK);
            at += n;
            step = step == 3000 ? 70000 : 3000;
        }
        EXPECT_EQ(enc->Close(), S_OK);
        return enc;
    }

    static std::pair<HRESULT, TrackGain> Measured(IKivAudioEncoder* enc) {
        ComPtr<IKivReplayGain> gain;
        TrackGain g;
        if (FAILED(enc->QueryInterface(IID_IKivReplayGain, gain.put_void()))) return {E_NOINTERFACE, g};
        const HRESULT hr = gain->GetTrackGain(&g.gainDb, &g.peak);
        return {hr, g};
    }

    std::string FieldOf(const Format& f, const std::string& path, const char16_t* name) {
        auto dec = Create<IKivAudioDecoder>(f.decoder->clsid, IID_IKivAudioDecoder);
        EXPECT_EQ(dec->Open(Bstr(FromUtf8(path)).get()), S_OK);
        ComPtr<IKivTagFields> fields;
        EXPECT_EQ(dec.As(IID_IKivTagFields, fields), S_OK);
        LONG count = 0;
        fields->get_FieldCount(&count);
        for (LONG i = 0; i < count; ++i) {
            Bstr n, v;
            fields->GetField(i, n.put(), v.put());
            if (BstrView(n.get()) == std::u16string_view(name)) return ToUtf8(BstrView(v.get()));
        }
        return {};
    }
};

// Every format: the values are those ffmpeg's meter gives for the signal
// encoded (within 0.1 dB; to the rounding of its report) and, for the
// lossy formats near enough, for the file written; in the format's usual
// form, a stale gain given as a field replaced, the other tags kept, and
// our own decoder reading the values back as the same fields.
TEST_F(ReplayGainTest, MeasuredValuesMatchFfmpegInEveryFormat) {
    const int rate = 44100, channels = 2;
    const auto pcm = Music(std::size_t(rate) * 6, channels, rate, 0.3);
    WriteFileBytes(dir_ / "source.wav", MakeWav(pcm, channels, rate, 16));
    const Loudness source = FfmpegLoudness(dir_ / "source.wav");
    ASSERT_FALSE(std::isnan(source.integrated));
    ASSERT_FALSE(std::isnan(source.peakDb));
    for (const Format& f : kFormats) {
        SCOPED_TRACE(f.name);
        const std::string path = dir_ / (std::string("gain") + f.extension);
        auto enc = Encode(f, path, pcm, channels, rate, true, "+99.00 dB", 3000);
        const auto [hr, gain] = Measured(enc.get());
        ASSERT_EQ(hr, S_OK);
        EXPECT_NEAR(gain.gainDb, -18.0 - source.integrated, 0.1);
        EXPECT_NEAR(20 * std::log10(gain.peak), source.peakDb, 0.1);

        // The file: exactly so for FLAC; a lossy codec changes the
        // signal a little, and its peaks more than its loudness.
        const bool lossless = std::string(f.name) == "FLAC";
        const Loudness file = FfmpegLoudness(path);
        ASSERT_FALSE(std::isnan(file.integrated));
        EXPECT_NEAR(gain.gainDb, -18.0 - file.integrated, lossless ? 0.1 : 0.3);
        EXPECT_NEAR(20 * std::log10(gain.peak), file.peakDb, lossless ? 0.1 : 1.0);

        const auto tags = MutagenTags(path);
        char text[32];
        if (*f.peakKey) {
            std::snprintf(text, sizeof text, "%+.2f dB", gain.gainDb);
            EXPECT_EQ(tags.count(f.gainKey) ? tags.at(f.gainKey) : "", text);
            std::snprintf(text, sizeof text, "%.6f", gain.peak);
            EXPECT_EQ(tags.count(f.peakKey) ? tags.at(f.peakKey) : "", text);
        } else {
            // From the gain as the other formats write it, to 0.01 dB.
            std::snprintf(text, sizeof text, "%ld", std::lround((std::round(gain.gainDb * 100) / 100 - 5.0) * 256));
            EXPECT_EQ(tags.count(f.gainKey) ? tags.at(f.gainKey) : "", text);
            EXPECT_EQ(tags.count("REPLAYGAIN_TRACK_GAIN"), 0u);
        }
        const std::string title = tags.count("TITLE") ? tags.at("TITLE") : tags.count("TIT2") ? tags.at("TIT2") : "";
        EXPECT_EQ(title, "Swell");

        std::snprintf(text, sizeof text, "%+.2f dB", gain.gainDb);
        EXPECT_EQ(FieldOf(f, path, u"REPLAYGAIN_TRACK_GAIN"), text);
        EXPECT_FALSE(FieldOf(f, path, u"MUSICBRAINZ_ALBUMID").empty());
    }
}

// The rewritten header leaves the audio as it was: the file decodes (FLAC
// checks its own signature) to the same samples as one written without
// measuring, and a comment header spread over several pages by a large
// picture is rewritten whole.
TEST_F(ReplayGainTest, RewrittenFilesDecodeAsWithoutMeasuring) {
    const int rate = 48000, channels = 1;
    const auto pcm = Music(std::size_t(rate) * 3, channels, rate, 0.6);
    for (const Format& f : kFormats) {
        if (std::string(f.name) == "MP3" || std::string(f.name) == "WMA") continue;  // tags written last anyway
        SCOPED_TRACE(f.name);
        const std::string with = dir_ / (std::string("with") + f.extension);
        const std::string without = dir_ / (std::string("without") + f.extension);
        Encode(f, with, pcm, channels, rate, true, nullptr, 150000);
        Encode(f, without, pcm, channels, rate, false, nullptr, 150000);
        auto decode = [&](const std::string& file) {
            const std::string pcmPath = file + ".pcm";
            const ToolRun r = RunTool("ffmpeg -v error -i " + Quote(file) + " -map 0:a -f s16le -y " + Quote(pcmPath));
            EXPECT_EQ(r.status, 0);
            // (The made-up picture is no image; ffmpeg says so as it probes.)
            EXPECT_EQ(std::regex_replace(r.output, std::regex(".*No JPEG data found in image\n"), ""), "");
            return ReadFileBytes(pcmPath);
        };
        const auto a = decode(with), b = decode(without);
        EXPECT_GT(a.size(), pcm.size() / 2);
        EXPECT_TRUE(a == b);
        if (std::string(f.name) == "FLAC" && HaveTool("flac")) {
            const ToolRun t = RunTool("flac -t --silent " + Quote(with));
            EXPECT_EQ(t.status, 0) << t.output;
        }
        // libogg checks every page's checksum.
        if (std::string(f.name) == "Vorbis" && HaveTool("oggdec")) {
            const ToolRun t = RunTool("oggdec --quiet -o /dev/null " + Quote(with));
            EXPECT_EQ(t.status, 0) << t.output;
        }
        if (std::string(f.name) == "Opus" && HaveTool("opusdec")) {
            const ToolRun t = RunTool("opusdec --quiet " + Quote(with) + " /dev/null");
            EXPECT_EQ(t.status, 0) << t.output;
        }
        EXPECT_FALSE(FieldOf(f, with, u"REPLAYGAIN_TRACK_GAIN").empty());
        EXPECT_EQ(FieldOf(f, without, u"REPLAYGAIN_TRACK_GAIN"), "");
    }
}

// Without measuring, gain fields given travel as given (a conversion keeps
// the source's); Opus turns them into its own form and back. Silence and
// a stream too short to have a loudness give no values, and no error.
TEST_F(ReplayGainTest, GivenValuesTravelAndSilenceHasNone) {
    const int rate = 44100, channels = 2;
    const auto pcm = Music(std::size_t(rate) * 2, channels, rate, 0.3);
    for (const Format& f : kFormats) {
        SCOPED_TRACE(f.name);
        const std::string given = dir_ / (std::string("given") + f.extension);
        auto enc = Encode(f, given, pcm, channels, rate, false, "-3.00 dB");
        EXPECT_EQ(Measured(enc.get()).first, S_FALSE);
        EXPECT_EQ(FieldOf(f, given, u"REPLAYGAIN_TRACK_GAIN"), "-3.00 dB");

        const std::string silent = dir_ / (std::string("silent") + f.extension);
        enc = Encode(f, silent, std::vector<unsigned char>(std::size_t(rate) * 4, 0), channels, rate, true);
        EXPECT_EQ(Measured(enc.get()).first, S_FALSE);
        EXPECT_EQ(FieldOf(f, silent, u"REPLAYGAIN_TRACK_GAIN"), "");

        const std::string brief = dir_ / (std::string("brief") + f.extension);
        enc = Encode(f, brief, Music(std::size_t(rate) / 10, channels, rate, 0.3), channels, rate, true);
        EXPECT_EQ(Measured(enc.get()).first, S_FALSE);
    }
}

// Taggers that write the ID3 description in lower case are read too.
TEST_F(ReplayGainTest, LowerCaseId3DescriptionsAreRead) {
    const Format& mp3 = kFormats[3];
    const std::string path = dir_ / "lower.mp3";
    Encode(mp3, path, Music(44100, 2, 44100, 0.3), 2, 44100, false);
    static const char kScript[] = R"(import sys
from mutagen.id3 import ID3, TXXX
t = ID3(sys.argv[1])
t.add(TXXX(encoding=3, desc='replaygain_track_gain', text=['-1.50 dB']))
t.save()
)";
    const ToolRun r = RunTool("/usr/bin/python3 -c " + Quote(kScript) + " " + Quote(path));
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(FieldOf(mp3, path, u"REPLAYGAIN_TRACK_GAIN"), "-1.50 dB");
}

// A caller's descriptor: the stream starts where the caller has got to,
// and the header rewritten is the stream's, not the start of the file. A
// pipe cannot be rewritten: the caller is told of no values.
TEST_F(ReplayGainTest, CallersDescriptorsAreRewrittenWhereTheStreamIs) {
    const auto pcm = Music(44100 * 2, 2, 44100, 0.3);
    const std::string lead(100, 'x');
    for (const Format& f : {kFormats[0], kFormats[1], kFormats[2]}) {
        SCOPED_TRACE(f.name);
        const std::string path = dir_ / (std::string("handle") + f.extension);
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, lead.data(), lead.size()), ssize_t(lead.size()));
        auto enc = Create<IKivAudioEncoder>(f.encoder->clsid, IID_IKivAudioEncoder);
        ComPtr<IKivReplayGain> gain;
        ASSERT_EQ(enc.As(IID_IKivReplayGain, gain), S_OK);
        gain->put_MeasureTrackGain(VARIANT_TRUE);
        ASSERT_EQ(enc->OpenHandle(reinterpret_cast<void*>(std::intptr_t(fd))), S_OK);
        ASSERT_EQ(enc->SetInputFormat(2, 44100, 16), S_OK);
        ASSERT_EQ(enc->Write(const_cast<BYTE*>(pcm.data()), LONG(pcm.size())), S_OK);
        ASSERT_EQ(enc->Close(), S_OK);
        ::close(fd);
        EXPECT_EQ(Measured(enc.get()).first, S_OK);
        auto bytes = ReadFileBytes(path);
        ASSERT_GT(bytes.size(), lead.size());
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 100), lead);
        bytes.erase(bytes.begin(), bytes.begin() + 100);
        const std::string stream = dir_ / (std::string("stream") + f.extension);
        WriteFileBytes(stream, bytes);
        EXPECT_FALSE(FieldOf(f, stream, u"REPLAYGAIN_TRACK_GAIN").empty());

        int pipeFds[2];
        ASSERT_EQ(::pipe(pipeFds), 0);
        std::thread drain([&] {
            char buffer[65536];
            while (::read(pipeFds[0], buffer, sizeof buffer) > 0) {
            }
        });
        ASSERT_EQ(enc->OpenHandle(reinterpret_cast<void*>(std::intptr_t(pipeFds[1]))), S_OK);
        ASSERT_EQ(enc->Write(const_cast<BYTE*>(pcm.data()), LONG(pcm.size())), S_OK);
        EXPECT_EQ(enc->Close(), S_OK);
        ::close(pipeFds[1]);
        drain.join();
        ::close(pipeFds[0]);
        EXPECT_EQ(Measured(enc.get()).first, S_FALSE);
    }
}

// A conversion keeps the source's values (the loudness survives a codec
// change), except when it mixes the channels down, which changes it.
TEST_F(ReplayGainTest, ConversionsCarryTheValuesUnlessChannelsAreMixed) {
    for (int channels : {2, 6}) {
        SCOPED_TRACE(std::to_string(channels) + " channels");
        const std::string source = dir_ / ("source" + std::to_string(channels) + ".flac");
        Encode(kFormats[0], source, Music(44100, channels, 44100, 0.3), channels, 44100, false, "-4.00 dB");
        auto conv = Create<IKivAudioConverter>(kClassAudioConverter.clsid, IID_IKivAudioConverter);
        auto dec = Create<IKivAudioDecoder>(kClassFlacDecoder.clsid, IID_IKivAudioDecoder);
        ASSERT_EQ(dec->Open(Bstr(FromUtf8(source)).get()), S_OK);
        auto enc = Create<IKivAudioEncoder>(kClassMp3Encoder.clsid, IID_IKivAudioEncoder);
        const std::string destination = dir_ / ("out" + std::to_string(channels) + ".mp3");
        ASSERT_EQ(enc->Open(Bstr(FromUtf8(destination)).get()), S_OK);
        ASSERT_EQ(conv->put_Source(dec.get()), S_OK);
        ASSERT_EQ(conv->put_Destination(enc.get()), S_OK);
        ASSERT_EQ(conv->put_KeepTags(VARIANT_TRUE), S_OK);
        ASSERT_EQ(conv->GoSync(), S_OK);
        ASSERT_EQ(enc->Close(), S_OK);
        EXPECT_EQ(FieldOf(kFormats[3], destination, u"REPLAYGAIN_TRACK_GAIN"), channels == 2 ? "-4.00 dB" : "");
        EXPECT_FALSE(FieldOf(kFormats[3], destination, u"MUSICBRAINZ_ALBUMID").empty());
    }
}

// Surround channels count by where they sound, as ffmpeg's meter weighs
// them by the layout (surrounds and sides more, the low-frequency channel
// not at all), so 5.1 and 7.1 files get the same gain from both.
TEST_F(ReplayGainTest, SurroundChannelsAreWeighedByTheirSpeakers) {
    for (int channels : {6, 8}) {
        SCOPED_TRACE(std::to_string(channels) + " channels");
        const std::string path = dir_ / ("surround" + std::to_string(channels) + ".flac");
        auto enc = Encode(kFormats[0], path, Music(44100 * 4, channels, 44100, 0.2), channels, 44100, true);
        const auto [hr, gain] = Measured(enc.get());
        ASSERT_EQ(hr, S_OK);
        const Loudness reference = FfmpegLoudness(path);
        ASSERT_FALSE(std::isnan(reference.integrated));
        EXPECT_NEAR(gain.gainDb, -18.0 - reference.integrated, 0.1);
    }
}

}  // namespace
}  // namespace kiv::test
