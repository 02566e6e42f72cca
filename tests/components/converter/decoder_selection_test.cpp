#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "components/common/decoder_selection.h"
#include "components/common/identities.h"
#include "platform/system/text.h"
#include "tests/support/test_env.h"

namespace kiv::test {
namespace {

class DecoderSelectionTest : public ComponentTest {
protected:
    HRESULT Select(const std::string& path) {
        if (!conv_) conv_ = Create<IKivAudioConverter>(kClassAudioConverter.clsid, IID_IKivAudioConverter);
        Bstr name(FromUtf8(path));
        return conv_->CreateDecoderFor(name.get());
    }
    bool HasSource() {
        ComPtr<IKivAudioDecoder> src;
        conv_->get_Source(src.put());
        return bool(src);
    }
    ComPtr<IKivAudioConverter> conv_;
};

std::vector<unsigned char> WavWithTag(WORD tag) {
    auto v = MakeWav(PatternBytes(100));
    v[20] = static_cast<unsigned char>(tag);
    v[21] = static_cast<unsigned char>(tag >> 8);
    return v;
}

// A 40-byte extensible format chunk whose sub-format is the plain tag `sub`.
std::vector<unsigned char> Extensible(WORD sub) {
    WAVEFORMATEXTENSIBLE ext{};
    ext.Format = {0xFFFE, 2, 44100, 176400, 4, 16, 22};
    ext.Samples.wValidBitsPerSample = 16;
    ext.dwChannelMask = 3;
    ext.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
    ext.SubFormat.Data1 = sub;
    auto v = MakeWav(PatternBytes(100));
    v[16] = 40;
    v.insert(v.begin() + 36, reinterpret_cast<unsigned char*>(&ext) + 16, reinterpret_cast<unsigned char*>(&ext) + 40);
    std::memcpy(v.data() + 20, &ext, 16);
    std::uint32_t riff = std::uint32_t(v.size() - 8);
    std::memcpy(v.data() + 4, &riff, 4);
    return v;
}

TEST_F(DecoderSelectionTest, ByExtensionAndForWavByFormatTag) {
    WriteFileBytes(dir_ / "pcm.WAV", WavWithTag(1));
    ASSERT_EQ(Select(dir_ / "pcm.WAV"), S_OK) << "extensions compare without case";
    EXPECT_TRUE(HasSource());
    // Float and extensible files hold samples the WAV decoder delivers.
    const std::pair<const char*, std::vector<unsigned char>> wavDecoder[] = {
        {"float.wav", WavWithTag(3)}, {"ext-pcm.wav", Extensible(1)}, {"ext-float.wave", Extensible(3)}};
    for (const auto& [name, bytes] : wavDecoder) {
        WriteFileBytes(dir_ / name, bytes);
        ASSERT_EQ(Select(dir_ / name), S_OK) << name;
        EXPECT_TRUE(HasSource()) << name;
    }
    // A ".wave" file is a WAV file the task list accepts: it must open too.
    WriteFileBytes(dir_ / "pcm.Wave", WavWithTag(1));
    ASSERT_EQ(Select(dir_ / "pcm.Wave"), S_OK);
    EXPECT_TRUE(HasSource());

    struct Case {
        std::string name;
        std::vector<unsigned char> bytes;
        HRESULT hr;
        const char* text;  // when the converter reports its own text
    } cases[] = {
        {"adpcm.wav", WavWithTag(2), DISP_E_EXCEPTION, "Cannot find appropriate decoder."},
        {"extensible-unknown.wav", Extensible(2), DISP_E_EXCEPTION, "Cannot find appropriate decoder."},
        {"song.aiff", {1, 2, 3}, DISP_E_EXCEPTION, "Cannot find appropriate decoder."},
        {"broken.wav", {'R', 'I', 'F', 'F'}, DISP_E_EXCEPTION, "Cannot find appropriate decoder."},
        // Selected by name; their modules are not registered here.
        {"song.mp3", {1}, REGDB_E_CLASSNOTREG, nullptr},
        {"SONG.MP3", {1}, REGDB_E_CLASSNOTREG, nullptr},
        {"mpeg.wav", WavWithTag(85), REGDB_E_CLASSNOTREG, nullptr},
        {"mpeg.wave", WavWithTag(85), REGDB_E_CLASSNOTREG, nullptr},
        {"adpcm.wave", WavWithTag(2), DISP_E_EXCEPTION, "Cannot find appropriate decoder."},
        {"a.ogg", {1}, REGDB_E_CLASSNOTREG, nullptr},
        {"a.OGA", {1}, REGDB_E_CLASSNOTREG, nullptr},
        {"a.wma", {1}, REGDB_E_CLASSNOTREG, nullptr},
    };
    for (const Case& c : cases) {
        WriteFileBytes(dir_ / c.name, c.bytes);
        EXPECT_EQ(Select(dir_ / c.name), c.hr) << c.name;
        if (c.text) {
            EXPECT_EQ(TakeError(), std::make_pair(std::string("ZEMOR.AudioConverter.1"), std::string(c.text)));
        }
        EXPECT_FALSE(HasSource()) << c.name << ": after a failure there is no source";
    }
    EXPECT_EQ(Select(".mp3"), DISP_E_EXCEPTION) << "a name of four characters has no extension to go by";
    EXPECT_EQ(TakeError().second, "Cannot find appropriate decoder.");
}

TEST_F(DecoderSelectionTest, TheDecodersOwnOpenFailureIsReturned) {
    WriteFileBytes(dir_ / "empty.wav", MakeWav({}));
    EXPECT_EQ(Select(dir_ / "empty.wav"), E_FAIL);
    EXPECT_FALSE(HasSource());
    // Its text too: letting the failed decoder go must not take it away.
    UseTemporaryRegistry(dir_, {"kivwave", "kivconv", "kivvorbis"});
    WriteFileBytes(dir_ / "noise.ogg", PatternBytes(3000));
    EXPECT_EQ(Select(dir_ / "noise.ogg"), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, "Cannot open: not an OggVorbis file.");
    EXPECT_FALSE(HasSource());
}


bool Have(const char* tool) { return RunCommand(std::string("command -v ") + tool + " >/dev/null").status == 0; }

// Files of every kind made by the reference tools (sox, lame, oggenc,
// ffmpeg), then copied under names that do not fit what they hold: the
// bytes decide, the name only when the bytes say nothing.
TEST_F(DecoderSelectionTest, TheFirstBytesDecideOverAWrongOrMissingExtension) {
    for (const char* tool : {"sox", "lame", "oggenc", "ffmpeg", "flac", "opusenc"})
        if (!Have(tool)) GTEST_SKIP() << tool << " missing";
    const std::string wav = dir_ / "tone.wav";
    auto run = [](const std::string& command) {
        const CommandRun r = RunCommand(command + " 2>&1");
        ASSERT_EQ(r.status, 0) << command << "\n" << r.output;
    };
    run("sox -n -r 44100 -c 2 -b 16 '" + wav + "' synth 0.3 sine 440");
    run("lame --quiet -b 128 '" + wav + "' '" + (dir_ / "plain.mp3") + "'");
    run("lame --quiet -b 128 --tt Title --add-id3v2 '" + wav + "' '" + (dir_ / "tagged.mp3") + "'");
    run("oggenc -Q -o '" + (dir_ / "tone.ogg") + "' '" + wav + "'");
    run("ffmpeg -v error -y -i '" + wav + "' -c:a wmav2 '" + (dir_ / "tone.wma") + "'");
    run("flac -s -o '" + (dir_ / "tone.flac") + "' '" + wav + "'");
    run("opusenc --quiet '" + wav + "' '" + (dir_ / "tone.opus") + "'");

    struct Case {
        const char* made;
        const char* named;
        const CLSID* decoder;
    } cases[] = {
        {"tone.ogg", "ogg.mp3", &kClassVorbisDecoder.clsid},
        {"tone.ogg", "ogg.oga", &kClassVorbisDecoder.clsid},
        {"tone.ogg", "ogg.wav", &kClassVorbisDecoder.clsid},
        {"tone.ogg", "ogg-without-extension", &kClassVorbisDecoder.clsid},
        {"tone.wav", "wav.mp3", &kClassWaveDecoder.clsid},
        {"tone.wav", "wav.dat", &kClassWaveDecoder.clsid},
        {"plain.mp3", "mp3.ogg", &kClassMp3Decoder.clsid},
        {"tagged.mp3", "id3.wma", &kClassMp3Decoder.clsid},
        {"plain.mp3", "mp3.audio", &kClassMp3Decoder.clsid},
        {"tone.wma", "wma.ogg", &kClassWmaDecoder.clsid},
        {"tone.wma", "wma.bin", &kClassWmaDecoder.clsid},
        {"tone.flac", "flac.ogg", &kClassFlacDecoder.clsid},
        {"tone.flac", "flac-without-extension", &kClassFlacDecoder.clsid},
        {"tone.opus", "opus.ogg", &kClassOpusDecoder.clsid},
        {"tone.opus", "opus.flac", &kClassOpusDecoder.clsid},
        {"tone.ogg", "ogg.opus", &kClassVorbisDecoder.clsid},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.named);
        fs::copy_file(dir_ / c.made, dir_ / c.named, fs::copy_options::overwrite_existing);
        CLSID chosen{};
        ASSERT_TRUE(SelectDecoderClass(FromUtf8(dir_ / c.named), chosen));
        EXPECT_TRUE(chosen == *c.decoder);
    }
    // Bytes that say nothing leave it to the name.
    WriteFileBytes(dir_ / "junk.oga", {'j', 'u', 'n', 'k', 0, 0, 0, 0});
    CLSID chosen{};
    ASSERT_TRUE(SelectDecoderClass(FromUtf8(dir_ / "junk.oga"), chosen));
    EXPECT_TRUE(chosen == kClassVorbisDecoder.clsid);
    for (const auto& [name, decoder] : {std::pair{"junk.flac", &kClassFlacDecoder}, {"junk.opus", &kClassOpusDecoder}}) {
        fs::copy_file(dir_ / "junk.oga", dir_ / name);
        ASSERT_TRUE(SelectDecoderClass(FromUtf8(dir_ / name), chosen)) << name;
        EXPECT_TRUE(chosen == decoder->clsid) << name;
    }
    EXPECT_FALSE(SelectDecoderClass(FromUtf8(dir_ / "missing.aiff"), chosen));
}

// An ID3v2 tag (version 3 or 4) holding a title and `padding` zero bytes,
// with a footer when asked (version 4 only).
std::vector<unsigned char> Id3v2Tag(unsigned char version, bool footer, std::size_t padding) {
    auto size = [&](std::size_t n, bool synchsafe) {
        const int shift = synchsafe ? 7 : 8;
        std::vector<unsigned char> b(4);
        for (int i = 3; i >= 0; --i, n >>= shift) b[std::size_t(i)] = static_cast<unsigned char>(n & ((1u << shift) - 1));
        return b;
    };
    const std::string text = std::string(1, '\0') + "ID3 title";
    std::vector<unsigned char> body = {'T', 'I', 'T', '2'};
    const auto frameSize = size(text.size(), version >= 4);
    body.insert(body.end(), frameSize.begin(), frameSize.end());
    body.insert(body.end(), {0, 0});
    body.insert(body.end(), text.begin(), text.end());
    body.resize(body.size() + padding);
    std::vector<unsigned char> tag = {'I', 'D', '3', version, 0, static_cast<unsigned char>(footer ? 0x10 : 0)};
    const auto bodySize = size(body.size(), true);
    tag.insert(tag.end(), bodySize.begin(), bodySize.end());
    std::vector<unsigned char> out = tag;
    out.insert(out.end(), body.begin(), body.end());
    if (footer) {
        tag[0] = '3', tag[1] = 'D', tag[2] = 'I';
        out.insert(out.end(), tag.begin(), tag.end());
    }
    return out;
}

// Some taggers put an ID3v2 tag in front of "fLaC". Such a file is FLAC,
// whatever its name, and opens with the tags of its Vorbis comments.
TEST_F(DecoderSelectionTest, AFlacStreamBehindAnId3v2TagOpensAsFlac) {
    if (!Have("sox") || !Have("flac")) GTEST_SKIP() << "sox or flac missing";
    UseTemporaryRegistry(dir_, {"kivwave", "kivconv", "kivflac"});
    const std::string wav = dir_ / "tone.wav";
    ASSERT_EQ(RunCommand("sox -n -r 44100 -c 2 -b 16 '" + wav + "' synth 2.5 sine 440").status, 0);
    ASSERT_EQ(RunCommand("flac -s -T 'TITLE=Comment title' -T ARTIST=Someone -o '" + (dir_ / "tone.flac") + "' '" +
                         wav + "'")
                  .status,
              0);
    const auto flac = ReadFileBytes(dir_ / "tone.flac");
    const auto reference = WavSamples(wav);
    ASSERT_FALSE(reference.empty());

    struct Case {
        const char* name;
        std::vector<unsigned char> tag;
    } cases[] = {
        {"v3.flac", Id3v2Tag(3, false, 2000)},
        {"v3.mp3", Id3v2Tag(3, false, 0)},
        {"v4-footer.mp3", Id3v2Tag(4, true, 100)},
        {"v4-footer", Id3v2Tag(4, true, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<unsigned char> bytes = c.tag;
        bytes.insert(bytes.end(), flac.begin(), flac.end());
        WriteFileBytes(dir_ / c.name, bytes);
        CLSID chosen{};
        ASSERT_TRUE(SelectDecoderClass(FromUtf8(dir_ / c.name), chosen));
        EXPECT_TRUE(chosen == kClassFlacDecoder.clsid);

        ASSERT_EQ(Select(dir_ / c.name), S_OK);
        ComPtr<IKivAudioDecoder> src;
        ASSERT_EQ(conv_->get_Source(src.put()), S_OK);
        ComPtr<IAudioTag> tag;
        ASSERT_EQ(src->get_TagData(tag.put()), S_OK);
        Bstr title, artist;
        tag->get_Title(title.put());
        tag->get_Artist(artist.put());
        EXPECT_EQ(title.view(), u"Comment title");
        EXPECT_EQ(artist.view(), u"Someone");
        LONG seconds = 0;
        EXPECT_EQ(src->get_Duration(&seconds), S_OK);
        EXPECT_EQ(seconds, 2);
        EXPECT_TRUE(DecodeToEnd(src.get()).pcm == reference);
        // Seeking counts from the stream, not from the start of the file.
        ASSERT_EQ(src->Seek(1), S_OK);
        const auto rest = DecodeToEnd(src.get()).pcm;
        ASSERT_EQ(rest.size(), reference.size() - 44100 * 4);
        EXPECT_TRUE(std::equal(rest.begin(), rest.end(), reference.begin() + 44100 * 4));
    }

    // A tag that claims to run past the end of the file leaves the file to
    // the MP3 decoder, as any other tagged file.
    std::vector<unsigned char> overlong = {'I', 'D', '3', 3, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F};
    overlong.insert(overlong.end(), flac.begin(), flac.end());
    WriteFileBytes(dir_ / "overlong.flac", overlong);
    CLSID chosen{};
    ASSERT_TRUE(SelectDecoderClass(FromUtf8(dir_ / "overlong.flac"), chosen));
    EXPECT_TRUE(chosen == kClassMp3Decoder.clsid);
}

TEST_F(DecoderSelectionTest, AnOggFileNamedMp3OpensAsOgg) {
    if (!Have("oggenc") || !Have("sox")) GTEST_SKIP() << "sox or oggenc missing";
    UseTemporaryRegistry(dir_, {"kivwave", "kivconv", "kivvorbis"});
    const std::string wav = dir_ / "tone.wav";
    ASSERT_EQ(RunCommand("sox -n -r 22050 -c 1 -b 16 '" + wav + "' synth 0.5 sine 440").status, 0);
    ASSERT_EQ(RunCommand("oggenc -Q -o '" + (dir_ / "song.mp3") + "' '" + wav + "'").status, 0);
    ASSERT_EQ(Select(dir_ / "song.mp3"), S_OK);
    ComPtr<IKivAudioDecoder> src;
    ASSERT_EQ(conv_->get_Source(src.put()), S_OK);
    WAVEFORMATEX* f = nullptr;
    ASSERT_EQ(src->get_Format(&f), S_OK);
    EXPECT_EQ(f->nChannels, 1);
    EXPECT_EQ(f->nSamplesPerSec, 22050u);
    std::vector<BYTE> buf(65536);
    LONG n = 0;
    EXPECT_EQ(src->Read(buf.data(), LONG(buf.size()), &n), S_OK);
    EXPECT_GT(n, 0);
}

}  // namespace
}  // namespace kiv::test
