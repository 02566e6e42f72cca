#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "platform/com/connection_point.h"
#include "platform/system/text.h"
#include "tests/support/test_env.h"

namespace kiv::test {
namespace {

std::uint32_t Le32(const std::vector<unsigned char>& b, std::size_t at) {
    return std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8 | std::uint32_t(b[at + 2]) << 16 |
           std::uint32_t(b[at + 3]) << 24;
}

class WaveEncoderTest : public ComponentTest {
protected:
    void SetUp() override {
        ComponentTest::SetUp();
        enc_ = Create<IKivAudioEncoder>(kClassWaveEncoder.clsid, IID_IKivAudioEncoder);
        ASSERT_TRUE(enc_);
    }
    HRESULT Open(const std::string& path) {
        Bstr name(FromUtf8(path));
        return enc_->Open(name.get());
    }
    ComPtr<IKivAudioEncoder> enc_;
};

// The file layout, byte for byte, for even, odd and no data.
TEST_F(WaveEncoderTest, LayoutSizesAndPadByte) {
    struct Case {
        std::size_t bytes;
        std::size_t fileSize;
        std::uint32_t riffSize;
    } cases[] = {{176400, 176446, 176438}, {3, 50, 42}, {1, 48, 40}};
    for (const Case& c : cases) {
        std::string path = dir_ / ("out" + std::to_string(c.bytes) + ".wav");
        ASSERT_EQ(Open(path), S_OK);
        ASSERT_EQ(enc_->SetInputFormat(2, 44100, 16), S_OK);
        auto data = PatternBytes(c.bytes);
        ASSERT_EQ(enc_->Write(data.data(), LONG(data.size())), S_OK);
        ASSERT_EQ(enc_->Close(), S_OK);
        auto f = ReadFileBytes(path);
        ASSERT_EQ(f.size(), c.fileSize);
        EXPECT_EQ(std::memcmp(f.data(), "RIFF", 4), 0);
        EXPECT_EQ(Le32(f, 4), c.riffSize);
        EXPECT_EQ(std::memcmp(f.data() + 8, "WAVEfmt ", 8), 0);
        EXPECT_EQ(Le32(f, 16), 18u) << "the format chunk is always 18 bytes";
        const unsigned char fmt[18] = {1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0, 0, 0};
        EXPECT_EQ(std::memcmp(f.data() + 20, fmt, 18), 0);
        EXPECT_EQ(std::memcmp(f.data() + 38, "data", 4), 0);
        EXPECT_EQ(Le32(f, 42), c.bytes);
        EXPECT_EQ(std::memcmp(f.data() + 46, data.data(), c.bytes), 0);
        if (c.bytes & 1) {
            EXPECT_EQ(f.back(), 0) << "pad byte";
        }
    }
}

TEST_F(WaveEncoderTest, OpenThenCloseLeavesAnEmptyFile) {
    ASSERT_EQ(Open(dir_ / "empty.wav"), S_OK);
    ASSERT_EQ(enc_->Close(), S_OK);
    EXPECT_TRUE(fs::exists(dir_ / "empty.wav"));
    EXPECT_EQ(fs::file_size(dir_ / "empty.wav"), 0u);
    EXPECT_EQ(enc_->Close(), S_OK) << "closing with nothing open succeeds";
}

TEST_F(WaveEncoderTest, HeaderTakesTheFormatInForceAtTheFirstWrite) {
    ASSERT_EQ(Open(dir_ / "a.wav"), S_OK);
    // Written unchanged, wrong byte rate and all: the WAV encoder copies the record.
    WAVEFORMATEX odd{1, 1, 11025, 12345, 1, 8, 0};
    ASSERT_EQ(enc_->SetInputFormatWFX(&odd), S_OK);
    BYTE b[2] = {1, 2};
    ASSERT_EQ(enc_->Write(b, 2), S_OK);
    ASSERT_EQ(enc_->SetInputFormat(2, 48000, 16), S_OK);
    ASSERT_EQ(enc_->Write(b, 2), S_OK);
    ASSERT_EQ(enc_->Close(), S_OK);
    auto f = ReadFileBytes(dir_ / "a.wav");
    ASSERT_EQ(f.size(), 50u);
    EXPECT_EQ(std::memcmp(f.data() + 20, &odd, 18), 0);
    WAVEFORMATEX floatFormat{3, 2, 44100, 352800, 8, 32, 0};
    EXPECT_EQ(enc_->SetInputFormatWFX(&floatFormat), S_OK) << "the WAV encoder accepts any format tag";
}

TEST_F(WaveEncoderTest, FormatChecksReportTheFirstFailureAndKeepTheOldFormat) {
    struct Case {
        LONG ch, rate, bits;
        const char* text;
    } cases[] = {
        {2, 44100, 24, "Input must have 8 or 16 bits per sample."},
        {3, 7000, 24, "Input must have 1 or 2 channels."},
        {1, 7000, 8,
         "Wrong input sample rate. Possible values are: 8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, "
         "48000."},
    };
    ASSERT_EQ(enc_->SetInputFormat(1, 22050, 8), S_OK);
    for (const Case& c : cases) {
        EXPECT_EQ(enc_->SetInputFormat(c.ch, c.rate, c.bits), DISP_E_EXCEPTION);
        EXPECT_EQ(TakeError(), std::make_pair(std::string("ZEMOR.WaveEncoder.1"), std::string(c.text)));
    }
    ASSERT_EQ(Open(dir_ / "kept.wav"), S_OK);
    BYTE b[1] = {0x80};
    ASSERT_EQ(enc_->Write(b, 1), S_OK);
    ASSERT_EQ(enc_->Close(), S_OK);
    auto f = ReadFileBytes(dir_ / "kept.wav");
    const unsigned char fmt[18] = {1, 0, 1, 0, 0x22, 0x56, 0, 0, 0x22, 0x56, 0, 0, 1, 0, 8, 0, 0, 0};
    ASSERT_GE(f.size(), 38u);
    EXPECT_EQ(std::memcmp(f.data() + 20, fmt, 18), 0);
}

TEST_F(WaveEncoderTest, RefusalsWithNothingOpenAndBadArguments) {
    BYTE b[4] = {};
    EXPECT_EQ(enc_->Write(b, 4), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError(), std::make_pair(std::string("ZEMOR.WaveEncoder.1"),
                                          std::string("Error: cannot write: file is not open.")));
    EXPECT_EQ(enc_->get_Filename(nullptr), DISP_E_EXCEPTION) << "the open test comes before the pointer test";
    EXPECT_EQ(TakeError().second, "Error: cannot access property: file is not open.");
    Bstr wav(u"x.wav");
    EXPECT_EQ(enc_->EncodeFromWave(wav.get()), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, "Error: cannot convert: file is not open.");
    EXPECT_EQ(enc_->get_AddExtension(nullptr), E_POINTER);
    EXPECT_EQ(enc_->SetInputFormatWFX(nullptr), E_POINTER);
    EXPECT_EQ(enc_->OpenHandle(nullptr), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, "OpenHandle is not available for Wave Format.");
    EXPECT_EQ(enc_->SetOutputFormatCBR(1), S_OK);

    ASSERT_EQ(Open(dir_ / "args.wav"), S_OK);
    EXPECT_EQ(enc_->Write(nullptr, 10), E_POINTER);
    EXPECT_EQ(enc_->Write(b, -1), E_INVALIDARG);
    ASSERT_EQ(enc_->Close(), S_OK);
    EXPECT_EQ(fs::file_size(dir_ / "args.wav"), 0u) << "refused writes write nothing";

    std::string longName(5000, 'a');
    EXPECT_EQ(Open(dir_ / longName), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, "Error: file name is too long.");
    Bstr withZero(std::u16string_view(u"a\0b.wav", 7));
    EXPECT_EQ(enc_->Open(withZero.get()), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, "Error: invalid file name.");
}

TEST_F(WaveEncoderTest, ExtensionIsAddedOnceAndKeptInAnyCase) {
    ASSERT_EQ(Open(dir_ / "song"), S_OK);
    Bstr name;
    ASSERT_EQ(enc_->get_Filename(name.put()), S_OK);
    EXPECT_EQ(ToUtf8(name.view()), dir_ / "song.wav");
    ASSERT_EQ(Open(dir_ / "SONG.WAV"), S_OK);
    ASSERT_EQ(enc_->get_Filename(name.put()), S_OK);
    EXPECT_EQ(ToUtf8(name.view()), dir_ / "SONG.WAV");
    ASSERT_EQ(enc_->put_AddExtension(0), S_OK);
    ASSERT_EQ(Open(dir_ / "raw"), S_OK);
    EXPECT_TRUE(fs::exists(dir_ / "raw"));
    enc_->Close();
}

TEST_F(WaveEncoderTest, BooleansStoreAnyNonZeroAndReadOne) {
    VARIANT_BOOL v = 0;
    ASSERT_EQ(enc_->put_AddExtension(VARIANT_TRUE), S_OK);
    ASSERT_EQ(enc_->get_AddExtension(&v), S_OK);
    EXPECT_EQ(v, 1);
    ASSERT_EQ(enc_->put_OverwritePrompt(5), S_OK);
    ASSERT_EQ(enc_->get_OverwritePrompt(&v), S_OK);
    EXPECT_EQ(v, 1);
    ASSERT_EQ(enc_->put_OverwritePrompt(0), S_OK);
    ASSERT_EQ(enc_->get_OverwritePrompt(&v), S_OK);
    EXPECT_EQ(v, 0);
}

TEST_F(WaveEncoderTest, OverwriteQuestionAndItsAnswers) {
    const std::string path = dir_ / "exists.wav";
    WriteFileBytes(path, {'o', 'l', 'd'});
    answers_.Push(IDNO);
    EXPECT_EQ(Open(path), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, "Cancelled by user.");
    EXPECT_EQ(ReadFileBytes(path), (std::vector<unsigned char>{'o', 'l', 'd'}));
    ASSERT_EQ(answers_.asked().size(), 1u);
    EXPECT_EQ(answers_.asked()[0].text, u"File already exists. Do you wish to overwrite it?");
    EXPECT_EQ(answers_.asked()[0].caption, u"Wave Encoder Control");
    EXPECT_EQ(answers_.asked()[0].type, UINT(MB_YESNO | MB_ICONQUESTION));
    Bstr name;
    EXPECT_EQ(enc_->get_Filename(name.put()), DISP_E_EXCEPTION) << "nothing is open after No";
    TakeError();

    answers_.Push(IDYES);
    ASSERT_EQ(Open(path), S_OK);
    enc_->Close();
    EXPECT_EQ(fs::file_size(path), 0u);

    WriteFileBytes(path, {'o', 'l', 'd'});
    enc_->put_OverwritePrompt(0);
    ASSERT_EQ(Open(path), S_OK);
    enc_->Close();
    EXPECT_EQ(answers_.asked().size(), 2u) << "no question with OverwritePrompt off";
    EXPECT_EQ(fs::file_size(path), 0u);
}

TEST_F(WaveEncoderTest, TagObjectIsTheEncoderItself) {
    ComPtr<IAudioTag> tag;
    ASSERT_EQ(enc_->get_TagData(tag.put()), S_OK);
    ComPtr<IAudioTag> direct;
    ASSERT_EQ(enc_->QueryInterface(IID_IAudioTag, direct.put_void()), S_OK);
    EXPECT_EQ(tag.get(), direct.get());
    Bstr title(u"Caf\u00e9");
    ASSERT_EQ(tag->put_Title(title.get()), S_OK);
    Bstr back;
    ASSERT_EQ(direct->get_Title(back.put()), S_OK);
    EXPECT_EQ(back.view(), u"Caf\u00e9");
    ASSERT_EQ(tag->put_Artist(nullptr), S_OK);
    ASSERT_EQ(tag->get_Artist(back.put()), S_OK);
    EXPECT_NE(back.get(), nullptr);
    EXPECT_EQ(back.view(), u"") << "a null string stores the empty string";

    // The tag reference keeps the component alive.
    ComPtr<IKivAudioEncoder> again;
    direct.reset();
    enc_.reset();
    ASSERT_EQ(tag->QueryInterface(IID_IKivAudioEncoder, again.put_void()), S_OK);
    ASSERT_EQ(again->get_TagData(direct.put()), S_OK);
    ASSERT_EQ(direct->get_Title(back.put()), S_OK);
    EXPECT_EQ(back.view(), u"Caf\u00e9");
}

TEST_F(WaveEncoderTest, ReleasingAnOpenEncoderFinishesTheFile) {
    const std::string path = dir_ / "forgot.wav";
    ASSERT_EQ(Open(path), S_OK);
    auto data = PatternBytes(1001);
    ASSERT_EQ(enc_->Write(data.data(), LONG(data.size())), S_OK);
    enc_.reset();
    auto f = ReadFileBytes(path);
    ASSERT_EQ(f.size(), 46u + 1001 + 1);
    EXPECT_EQ(Le32(f, 42), 1001u);
    EXPECT_EQ(Le32(f, 4), 38u + 1001 + 1);
}

// Whole-file encoding: events in order, progress up to 100 and never past
// it, and only the data chunk's bytes are encoded (not a LIST chunk after it).
struct EventLog {
    std::vector<std::pair<DISPID, std::u16string>> events;
    ComPtr<DispatchSink> sink = DispatchSink::Create(DIID_IKivAudioEncoderEvents, [this](DISPID id, DISPPARAMS& p) {
        events.emplace_back(id, id == DISPID_OnError ? EventArgText(p, 0)
                                 : id == DISPID_OnWaveEncodeProgress ? FromUtf8(std::to_string(EventArgLong(p, 0)))
                                                                     : u"");
    });
    bool Has(DISPID id) const {
        for (auto& e : events)
            if (e.first == id) return true;
        return false;
    }
};

TEST_F(WaveEncoderTest, EncodeFromWaveStopsAtTheDataChunkAndReportsProgress) {
    auto data = PatternBytes(400000);
    auto wav = MakeWav(data);
    const char list[] = "LIST\x0c\0\0\0INFOjunkjunk";
    wav.insert(wav.end(), list, list + 20);
    const std::string src = dir_ / "src.wav";
    WriteFileBytes(src, wav);

    EventLog log;
    EventConnection conn;
    ASSERT_EQ(conn.Connect(enc_.get(), DIID_IKivAudioEncoderEvents, log.sink.get()), S_OK);
    ASSERT_EQ(Open(dir_ / "copy.wav"), S_OK);
    Bstr srcName(FromUtf8(src));
    ASSERT_EQ(enc_->EncodeFromWave(srcName.get()), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return log.Has(DISPID_OnWaveEncodeFinish) || log.Has(DISPID_OnError); }));
    ASSERT_EQ(enc_->Close(), S_OK);

    ASSERT_GE(log.events.size(), 3u);
    EXPECT_EQ(log.events.front().first, DISPID_OnWaveEncodeStart);
    EXPECT_EQ(log.events.back().first, DISPID_OnWaveEncodeFinish);
    int last = -1;
    for (std::size_t i = 1; i + 1 < log.events.size(); ++i) {
        ASSERT_EQ(log.events[i].first, DISPID_OnWaveEncodeProgress);
        int p = std::stoi(ToUtf8(log.events[i].second));
        EXPECT_GT(p, last);
        last = p;
    }
    EXPECT_EQ(last, 100);
    auto out = ReadFileBytes(dir_ / "copy.wav");
    ASSERT_EQ(out.size(), 46u + data.size());
    EXPECT_TRUE(std::equal(data.begin(), data.end(), out.begin() + 46));
}

TEST_F(WaveEncoderTest, EncodeFromWaveOfANonWaveFileFiresOnlyOnError) {
    WriteFileBytes(dir_ / "not.wav", {'h', 'e', 'l', 'l', 'o'});
    EventLog log;
    EventConnection conn;
    ASSERT_EQ(conn.Connect(enc_.get(), DIID_IKivAudioEncoderEvents, log.sink.get()), S_OK);
    ASSERT_EQ(Open(dir_ / "o.wav"), S_OK);
    Bstr src(FromUtf8(dir_ / "not.wav"));
    ASSERT_EQ(enc_->EncodeFromWave(src.get()), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return !log.events.empty(); }));
    PumpUntil([] { return false; }, 100);
    ASSERT_EQ(log.events.size(), 1u);
    EXPECT_EQ(log.events[0], std::make_pair(DISPID(DISPID_OnError), std::u16string(u"Error: unable to open wave file.")));
}

TEST_F(WaveEncoderTest, EventsWaitForTheClientToPump) {
    WriteFileBytes(dir_ / "s.wav", MakeWav(PatternBytes(20000)));
    EventLog log;
    EventConnection conn;
    ASSERT_EQ(conn.Connect(enc_.get(), DIID_IKivAudioEncoderEvents, log.sink.get()), S_OK);
    ASSERT_EQ(Open(dir_ / "o.wav"), S_OK);
    Bstr src(FromUtf8(dir_ / "s.wav"));
    ASSERT_EQ(enc_->EncodeFromWave(src.get()), S_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(log.events.empty()) << "no event may reach a client that does not pump";
    ASSERT_TRUE(PumpUntil([&] { return log.Has(DISPID_OnWaveEncodeFinish); }));
    EXPECT_EQ(log.events.front().first, DISPID_OnWaveEncodeStart);
}

TEST_F(WaveEncoderTest, EncodeFromWaveSyncCopiesTheSamples) {
    auto data = PatternBytes(70001);
    WriteFileBytes(dir_ / "s.wav", MakeWav(data, 1, 22050, 8));
    ASSERT_EQ(Open(dir_ / "o.wav"), S_OK);
    Bstr src(FromUtf8(dir_ / "s.wav"));
    ASSERT_EQ(enc_->EncodeFromWaveSync(src.get()), S_OK);
    ASSERT_EQ(enc_->Close(), S_OK);
    auto out = ReadFileBytes(dir_ / "o.wav");
    auto in = MakeWav(data, 1, 22050, 8);
    ASSERT_EQ(out.size(), in.size() + 2);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), out.begin() + 46));
    Bstr missing(FromUtf8(dir_ / "missing.wav"));
    ASSERT_EQ(Open(dir_ / "o2.wav"), S_OK);
    EXPECT_EQ(enc_->EncodeFromWaveSync(missing.get()), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, "Error: unable to open wave file.");
}

}  // namespace
}  // namespace kiv::test

namespace kiv::test {
namespace {

// More than two channels or more than 16 bits are written as the extensible
// record with a speaker layout (the one given, else the usual one for the
// channel count); what the plain record says in full stays plain.
TEST_F(WaveEncoderTest, WideFormatsGetTheExtensibleRecordWithASpeakerLayout) {
    auto extensible = [](WORD channels, WORD bits, DWORD mask, const GUID& sub) {
        WAVEFORMATEXTENSIBLE e{};
        const WORD align = WORD(channels * bits / 8);
        e.Format = {0xFFFE, channels, 48000, 48000u * align, align, bits, 22};
        e.Samples.wValidBitsPerSample = bits;
        e.dwChannelMask = mask;
        e.SubFormat = sub;
        return e;
    };
    auto plain = [&](WORD tag, WORD channels, WORD bits) {
        WAVEFORMATEXTENSIBLE e = extensible(channels, bits, 0, KSDATAFORMAT_SUBTYPE_PCM);
        e.Format.wFormatTag = tag;
        e.Format.cbSize = 0;
        return e;
    };
    struct Case {
        const char* what;
        WAVEFORMATEXTENSIBLE in;
        std::uint32_t fmtSize;
        WORD tag;
        DWORD mask;
        bool isFloat;
    } cases[] = {
        {"6 channels", plain(1, 6, 16), 40, 0xFFFE, 0x3F, false},
        {"24-bit stereo", plain(1, 2, 24), 40, 0xFFFE, 0x3, false},
        {"float stereo", plain(3, 2, 32), 40, 0xFFFE, 0x3, true},
        {"5.1 with side channels", extensible(6, 16, 0x60F, KSDATAFORMAT_SUBTYPE_PCM), 40, 0xFFFE, 0x60F, false},
        {"extensible 16-bit stereo", extensible(2, 16, 3, KSDATAFORMAT_SUBTYPE_PCM), 18, 1, 0, false},
    };
    for (const Case& c : cases) {
        const std::string path = dir_ / (std::string(c.what) + ".wav");
        ASSERT_EQ(Open(path), S_OK);
        WAVEFORMATEXTENSIBLE in = c.in;
        ASSERT_EQ(enc_->SetInputFormatWFX(&in.Format), S_OK) << c.what;
        auto data = PatternBytes(in.Format.nBlockAlign * 10u);
        ASSERT_EQ(enc_->Write(data.data(), LONG(data.size())), S_OK);
        ASSERT_EQ(enc_->Close(), S_OK);
        auto f = ReadFileBytes(path);
        ASSERT_EQ(Le32(f, 16), c.fmtSize) << c.what;
        WAVEFORMATEXTENSIBLE out{};
        std::memcpy(&out, f.data() + 20, c.fmtSize);
        EXPECT_EQ(out.Format.wFormatTag, c.tag) << c.what;
        EXPECT_EQ(out.Format.nChannels, in.Format.nChannels) << c.what;
        EXPECT_EQ(out.Format.nBlockAlign, in.Format.nBlockAlign) << c.what;
        EXPECT_EQ(out.Format.nAvgBytesPerSec, in.Format.nAvgBytesPerSec) << c.what;
        if (c.tag == 0xFFFE) {
            EXPECT_EQ(out.Format.cbSize, 22) << c.what;
            EXPECT_EQ(out.Samples.wValidBitsPerSample, in.Format.wBitsPerSample) << c.what;
            EXPECT_EQ(out.dwChannelMask, c.mask) << c.what;
            EXPECT_EQ(out.SubFormat == KSDATAFORMAT_SUBTYPE_IEEE_FLOAT, c.isFloat) << c.what;
        }
        const std::size_t at = 20 + c.fmtSize + 8;
        ASSERT_EQ(f.size(), at + data.size()) << c.what;
        EXPECT_TRUE(std::equal(data.begin(), data.end(), f.begin() + long(at))) << c.what;
    }
}

// A 5.1 file from ffmpeg copied through the WAV codec reads back in ffmpeg
// with the same layout and the same samples in the same channels.
TEST_F(WaveEncoderTest, AnFfmpegSurroundFileKeepsItsLayoutAndChannelOrder) {
    const std::string in = dir_ / "in.wav", out = dir_ / "out.wav";
    ASSERT_EQ(RunCommand("ffmpeg -v error -nostdin -y -f lavfi -i "
                         "'aevalsrc=0.1|0.2|0.3|0.4|0.5|0.6:c=5.1:d=0.2' -c:a pcm_s24le '" + in + "'").status, 0);
    ASSERT_EQ(Open(out), S_OK);
    Bstr name(FromUtf8(in));
    ASSERT_EQ(enc_->EncodeFromWaveSync(name.get()), S_OK);
    ASSERT_EQ(enc_->Close(), S_OK);
    CommandRun layout = RunCommand("ffprobe -v error -show_entries stream=channel_layout,channels -of csv=p=0 '" + out + "'");
    EXPECT_EQ(layout.output, "6,5.1\n");
    auto decode = [&](const std::string& file) {
        return RunCommand("ffmpeg -v error -nostdin -i '" + file + "' -f s32le - | od -An -tx4 | head -c 2000").output;
    };
    const std::string original = decode(in);
    ASSERT_FALSE(original.empty());
    EXPECT_EQ(decode(out), original);
}

}  // namespace
}  // namespace kiv::test
