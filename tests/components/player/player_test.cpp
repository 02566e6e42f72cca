#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "components/player/player_interface.h"
#include "platform/com/connection_point.h"
#include "platform/com/error_info.h"
#include "platform/com/object.h"
#include "platform/sound/null_sound_control.h"
#include "platform/system/text.h"
#include "tests/support/test_env.h"

namespace kiv::test {
namespace {

constexpr std::size_t kSecond = 176400;  // 44100 Hz, 16-bit stereo

// A decoder the test steers: pattern bytes, a Read that fails on demand
// (with error info), a Format that can fail, a Duration that can be 0.
class FakeDecoder final : public DispatchImpl<IKivAudioDecoder, kDispAudioDecoder> {
public:
    static ComPtr<FakeDecoder> Make(std::size_t bytes) {
        auto d = ComPtr<FakeDecoder>::adopt(new FakeDecoder());
        d->data_ = PatternBytes(bytes);
        return d;
    }
    static ComPtr<FakeDecoder> Make(std::vector<unsigned char> data, const WAVEFORMATEX& format) {
        auto d = ComPtr<FakeDecoder>::adopt(new FakeDecoder());
        d->data_ = std::move(data);
        d->format_ = format;
        return d;
    }
    int failAtRead = -1;
    bool formatFails = false;
    bool zeroDuration = false;
    // Read blocks once everything has been delivered, until released: a
    // source that stops delivering without ending.
    bool stallAtEnd = false;
    std::atomic<bool> stalled{false}, released{false};
    // The decoder's position in whole seconds after every Read that delivered.
    std::vector<LONG> positionsRead;

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IKivAudioDecoder) {
            *ppv = static_cast<IKivAudioDecoder*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return refs_.AddRef(); }
    ULONG Release() override { return refs_.Release(this); }
    HRESULT Open(BSTR) override { return E_NOTIMPL; }
    HRESULT OpenHandle(void*) override { return E_NOTIMPL; }
    HRESULT get_Position(LONG* v) override { *v = LONG(pos_ / format_.nAvgBytesPerSec); return S_OK; }
    HRESULT put_Position(LONG) override { return E_NOTIMPL; }
    HRESULT get_Format(WAVEFORMATEX** f) override {
        if (formatFails) return E_FAIL;
        *f = &format_;
        return S_OK;
    }
    HRESULT get_Bitrate(LONG* v) override { *v = 1411200; return S_OK; }
    HRESULT get_Duration(LONG* v) override {
        *v = zeroDuration ? 0 : LONG(data_.size() / format_.nAvgBytesPerSec);
        return S_OK;
    }
    HRESULT get_TagData(IAudioTag** t) override { *t = nullptr; return E_NOTIMPL; }
    HRESULT get_Filename(BSTR* s) override { *s = SysAllocString(u"fake.wav"); return S_OK; }
    HRESULT Seek(LONG seconds) override {
        pos_ = std::min(data_.size(), std::size_t(seconds) * format_.nAvgBytesPerSec);
        return S_OK;
    }
    HRESULT Read(BYTE* data, LONG count, LONG* read) override {
        if (reads_++ == failAtRead) {
            SetErrorInfoText(u"disk gone");
            return E_FAIL;
        }
        if (stallAtEnd && pos_ == data_.size()) {
            stalled = true;
            while (!released) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::size_t n = std::min<std::size_t>(std::size_t(count), data_.size() - pos_);
        std::copy_n(data_.begin() + long(pos_), n, data);
        pos_ += n;
        *read = LONG(n);
        if (n) positionsRead.push_back(LONG(pos_ / format_.nAvgBytesPerSec));
        return S_OK;
    }
    HRESULT Close() override { return S_OK; }
    const std::vector<unsigned char>& data() const { return data_; }
    WAVEFORMATEX format_{1, 2, 44100, 176400, 4, 16, 0};

private:
    friend struct ::kiv::RefCount;
    ~FakeDecoder() = default;
    static void SetErrorInfoText(std::u16string_view text) {
        ComPtr<ICreateErrorInfo> create;
        if (SUCCEEDED(CreateErrorInfo(create.put()))) {
            Bstr d(text);
            create->SetDescription(d.get());
            ComPtr<IErrorInfo> info;
            create->QueryInterface(IID_IErrorInfo, info.put_void());
            SetErrorInfo(0, info.get());
        }
    }
    RefCount refs_;
    std::vector<unsigned char> data_;
    std::size_t pos_ = 0;
    int reads_ = 0;
};

class PlayerTest : public ComponentTest {
protected:
    void SetUp() override {
        ComponentTest::SetUp();
        UseTemporaryRegistry(dir_, {"kivplay"});
        ::setenv("KIV_SOUND", "null", 1);
        ::unsetenv("KIV_SOUND_MIXER");  // the simulated control of the null device
        UseCapture("capture.wav");
        player_ = MakePlayer(events_);
    }
    void TearDown() override {
        connection_.Disconnect();
        player_.reset();
        ::unsetenv("KIV_SOUND_CAPTURE");
        ComponentTest::TearDown();
    }
    void UseCapture(const std::string& name) {
        capture_ = dir_ / name;
        ::setenv("KIV_SOUND_CAPTURE", capture_.c_str(), 1);
    }

    struct Events {
        std::vector<std::pair<DISPID, std::string>> list;
        int Count(DISPID id) const {
            int n = 0;
            for (auto& e : list) n += e.first == id;
            return n;
        }
    };
    ComPtr<IKivAudioPlayer> MakePlayer(Events& events) {
        auto p = Create<IKivAudioPlayer>(kClassAudioPlayer.clsid, IID_IKivAudioPlayer);
        sink_ = DispatchSink::Create(DIID_IKivAudioPlayerEvents, [&events](DISPID id, DISPPARAMS& params) {
            std::string arg;
            if (id == DISPID_OnPlayError) arg = ToUtf8(EventArgText(params, 0));
            if (id == DISPID_OnPlayProgress || id == DISPID_OnPlayPosition)
                arg = std::to_string(EventArgLong(params, 0));
            events.list.emplace_back(id, arg);
        });
        if (p) {
            EXPECT_EQ(connection_.Connect(p.get(), DIID_IKivAudioPlayerEvents, sink_.get()), S_OK);
        }
        return p;
    }
    void AttachWav(IKivAudioPlayer* p, const std::vector<unsigned char>& data, const std::string& name = "src.wav") {
        WriteFileBytes(dir_ / name, MakeWav(data));
        Bstr src(FromUtf8(dir_ / name));
        ASSERT_EQ(p->CreateDecoderFor(src.get()), S_OK);
    }
    // Plays until OnFinish, then gives late duplicates the chance to show.
    void PlayToEnd(IKivAudioPlayer* p, Events& events) {
        ASSERT_EQ(p->Start(), S_OK);
        ASSERT_TRUE(PumpUntil([&] { return events.Count(DISPID_OnPlayFinish) > 0; }));
        PumpUntil([] { return false; }, 300);
    }
    std::vector<unsigned char> Captured() {
        sound::FlushNullSoundCapture();
        auto f = ReadFileBytes(capture_);
        return f.size() < 44 ? std::vector<unsigned char>() : std::vector<unsigned char>(f.begin() + 44, f.end());
    }
    // The captured audio starts with `data` from `from` on, and is followed only by silence.
    void ExpectCaptureHolds(const std::vector<unsigned char>& data, std::size_t from) {
        auto got = Captured();
        ASSERT_GE(got.size(), data.size()) << "the end of the source was not heard";
        for (std::size_t i = from; i < data.size(); ++i)
            ASSERT_EQ(got[i], data[i]) << "first difference at byte " << i;
        for (std::size_t i = data.size(); i < got.size(); ++i) ASSERT_EQ(got[i], 0) << "after the end, at byte " << i;
    }
    LONG DecoderPosition() {
        ComPtr<IKivAudioDecoder> d;
        EXPECT_EQ(player_->get_Decoder(d.put()), S_OK);
        LONG pos = -1;
        if (d) d->get_Position(&pos);
        return pos;
    }

    ComPtr<IKivAudioPlayer> player_;
    ComPtr<DispatchSink> sink_;
    EventConnection connection_;
    Events events_;
    std::string capture_;
};

TEST_F(PlayerTest, PlaysWavToTheEndAndRecordsEverySample) {
    auto data = PatternBytes(kSecond + 30000);
    AttachWav(player_.get(), data);
    PlayToEnd(player_.get(), events_);
    EXPECT_EQ(events_.Count(DISPID_OnPlayFinish), 1);
    EXPECT_EQ(events_.Count(DISPID_OnPlayError), 0);
    EXPECT_EQ(events_.Count(DISPID_OnPlayStart), 0) << "Start fires no event";
    ASSERT_GT(events_.Count(DISPID_OnPlayProgress), 0);
    EXPECT_EQ(events_.list.back().first, DISPID_OnPlayFinish);
    ExpectCaptureHolds(data, 0);
    EXPECT_EQ(DecoderPosition(), 0) << "rewound for the next Start";
}

TEST_F(PlayerTest, StopRewindsAndTheNextStartPlaysFromTheBeginning) {
    auto data = PatternBytes(2 * kSecond);
    AttachWav(player_.get(), data);
    ASSERT_EQ(player_->Start(), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return events_.Count(DISPID_OnPlayPosition) >= 3; }));
    ASSERT_EQ(player_->Stop(), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return events_.Count(DISPID_OnPlayFinish) == 1; }));
    EXPECT_EQ(DecoderPosition(), 0);
    EXPECT_EQ(player_->Stop(), S_FALSE) << "already stopped";

    // Let the faded stream go so that the next one opens a fresh recording.
    PumpUntil([] { return false; }, 600);
    UseCapture("second.wav");
    events_.list.clear();
    PlayToEnd(player_.get(), events_);
    EXPECT_EQ(events_.Count(DISPID_OnPlayFinish), 1);
    ASSERT_GT(events_.list.size(), 1u);
    EXPECT_EQ(events_.list.front(), (std::pair<DISPID, std::string>{DISPID_OnPlayPosition, "0"}));
    // The restart fades in over its first 200 ms; from there on it is exact.
    ExpectCaptureHolds(data, kSecond / 4);
}

TEST_F(PlayerTest, RefusesWhatTheStateDoesNotAllow) {
    const std::string source = kClassAudioPlayer.progId;
    struct Case {
        const char* what;
        HRESULT (*call)(IKivAudioPlayer*);
        const char* text;
    };
    const Case noDecoder[] = {
        {"Start", [](IKivAudioPlayer* p) { return p->Start(); }, "Cannot play: no decoder attached."},
        {"Pause", [](IKivAudioPlayer* p) { return p->Pause(); }, "Cannot pause: no decoder attached."},
        {"Resume", [](IKivAudioPlayer* p) { return p->Resume(); }, "Cannot resume: no decoder attached."},
        {"Seek", [](IKivAudioPlayer* p) { return p->Seek(1); }, "Cannot seek: no decoder attached."},
        {"Stop", [](IKivAudioPlayer* p) { return p->Stop(); }, "Cannot stop: no decoder attached."},
    };
    for (const auto& c : noDecoder) {
        EXPECT_EQ(c.call(player_.get()), DISP_E_EXCEPTION) << c.what;
        EXPECT_EQ(TakeError(), std::make_pair(source, std::string(c.text))) << c.what;
    }

    AttachWav(player_.get(), PatternBytes(2 * kSecond));
    EXPECT_EQ(player_->Pause(), S_FALSE);
    EXPECT_EQ(player_->Resume(), S_FALSE);
    EXPECT_EQ(player_->Stop(), S_FALSE);
    EXPECT_EQ(player_->Seek(1), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError(), std::make_pair(source, std::string("Cannot seek: only when playing or paused.")));

    ASSERT_EQ(player_->Start(), S_OK);
    EXPECT_EQ(player_->Start(), S_OK) << "already playing";
    EXPECT_EQ(player_->Resume(), S_FALSE) << "not paused";
    ASSERT_EQ(player_->Pause(), S_OK);
    PumpUntil([] { return false; }, 300);  // the player thread takes the request
    EXPECT_EQ(events_.Count(DISPID_OnPlayStart), 0);
    EXPECT_EQ(player_->Seek(0), S_OK) << "allowed while paused";
    EXPECT_EQ(player_->Pause(), S_OK) << "a second Pause resumes";
    EXPECT_EQ(events_.Count(DISPID_OnPlayStart), 1) << "fired at once by the resume";
    ASSERT_EQ(player_->Stop(), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return events_.Count(DISPID_OnPlayFinish) == 1; }));
}

TEST_F(PlayerTest, AFailingReadGivesOneErrorThenFinish) {
    auto decoder = FakeDecoder::Make(2 * kSecond);
    decoder->failAtRead = 3;
    ASSERT_EQ(player_->put_Decoder(decoder.get()), S_OK);
    PlayToEnd(player_.get(), events_);
    ASSERT_EQ(events_.Count(DISPID_OnPlayError), 1);
    EXPECT_EQ(events_.Count(DISPID_OnPlayFinish), 1);
    std::vector<DISPID> tail;
    for (auto& e : events_.list)
        if (e.first == DISPID_OnPlayError || e.first == DISPID_OnPlayFinish) tail.push_back(e.first);
    EXPECT_EQ(tail, (std::vector<DISPID>{DISPID_OnPlayError, DISPID_OnPlayFinish}));
    for (auto& e : events_.list)
        if (e.first == DISPID_OnPlayError) {
            EXPECT_EQ(e.second, "Cannot read samples decoder failed: disk gone");
        }
    EXPECT_EQ(DecoderPosition(), 0);
}

TEST_F(PlayerTest, AnOutputThatCannotBeMadeIsReportedAndStops) {
    // No output takes 50 frames a second, in either format record.
    auto decoder = FakeDecoder::Make(kSecond);
    decoder->format_ = WAVEFORMATEX{1, 2, 50, 200, 4, 16, 0};
    ASSERT_EQ(player_->put_Decoder(decoder.get()), S_OK);
    PlayToEnd(player_.get(), events_);
    ASSERT_EQ(events_.Count(DISPID_OnPlayError), 1);
    EXPECT_EQ(events_.Count(DISPID_OnPlayFinish), 1);
    for (auto& e : events_.list) {
        if (e.first == DISPID_OnPlayError) {
            EXPECT_EQ(e.second, "Cannot play: the sound output could not be opened.");
        }
    }
    EXPECT_EQ(DecoderPosition(), 0);
}

TEST_F(PlayerTest, ASourceWithoutDurationPlaysOutWithZeroProgress) {
    // Shorter than the amount a new stream waits for before it starts.
    auto decoder = FakeDecoder::Make(kSecond / 5);
    decoder->zeroDuration = true;
    ASSERT_EQ(player_->put_Decoder(decoder.get()), S_OK);
    PlayToEnd(player_.get(), events_);
    EXPECT_EQ(events_.Count(DISPID_OnPlayFinish), 1);
    for (auto& e : events_.list)
        if (e.first == DISPID_OnPlayProgress) {
            EXPECT_EQ(e.second, "0");
        }
    ExpectCaptureHolds(decoder->data(), 0);
}

TEST_F(PlayerTest, DecoderSelectionAndAttachmentKeepTheOldDecoderOnFailure) {
    AttachWav(player_.get(), PatternBytes(kSecond));
    ComPtr<IKivAudioDecoder> before;
    ASSERT_EQ(player_->get_Decoder(before.put()), S_OK);
    ASSERT_TRUE(before);

    const std::string source = kClassAudioPlayer.progId;
    Bstr unknown(FromUtf8(dir_ / "song.aiff"));
    EXPECT_EQ(player_->CreateDecoderFor(unknown.get()), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError(), std::make_pair(source, std::string("Cannot find appropriate decoder.")));

    EXPECT_EQ(player_->put_Decoder(nullptr), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, "Cannot attach decoder: no decoder given.");
    auto broken = FakeDecoder::Make(100);
    broken->formatFails = true;
    EXPECT_EQ(player_->put_Decoder(broken.get()), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, "Cannot attach decoder: its format is not available.");

    ComPtr<IKivAudioDecoder> after;
    ASSERT_EQ(player_->get_Decoder(after.put()), S_OK);
    EXPECT_EQ(after.get(), before.get());
}

TEST_F(PlayerTest, VolumeClampsToTheSpeakerControl) {
    const std::pair<float, float> cases[] = {{1.5f, 1.0f}, {-1.0f, 0.0f}, {0.5f, 0.5f}, {1.0f, 1.0f}};
    for (auto [put, expected] : cases) {
        EXPECT_EQ(player_->put_Volume(put), S_OK) << put;
        float got = -1;
        ASSERT_EQ(player_->get_Volume(&got), S_OK);
        EXPECT_NEAR(got, expected, 1e-4) << put;
    }
}

TEST_F(PlayerTest, ReleasingOnePlayerLeavesSoundForTheNext) {
    AttachWav(player_.get(), PatternBytes(kSecond / 2));
    PlayToEnd(player_.get(), events_);
    connection_.Disconnect();
    player_.reset();

    UseCapture("after-release.wav");
    Events events;
    player_ = MakePlayer(events);
    ASSERT_TRUE(player_);
    auto data = PatternBytes(kSecond / 2, 7);
    AttachWav(player_.get(), data, "next.wav");
    PlayToEnd(player_.get(), events);
    EXPECT_EQ(events.Count(DISPID_OnPlayFinish), 1);
    ExpectCaptureHolds(data, 0);
}

TEST_F(PlayerTest, EveryBlockReadReportsPositionAndProgressAndTheEndFinishesOnce) {
    // 1.5 s: sixteen full blocks and a short one; the Duration is 1 s.
    auto decoder = FakeDecoder::Make(kSecond + kSecond / 2);
    ASSERT_EQ(player_->put_Decoder(decoder.get()), S_OK);
    PlayToEnd(player_.get(), events_);

    ASSERT_EQ(decoder->positionsRead.size(), 17u);
    std::vector<std::pair<DISPID, std::string>> expected;
    for (LONG position : decoder->positionsRead) {
        expected.emplace_back(DISPID_OnPlayPosition, std::to_string(position));
        expected.emplace_back(DISPID_OnPlayProgress, std::to_string(position * 100));
    }
    expected.emplace_back(DISPID_OnPlayFinish, "");
    EXPECT_EQ(events_.list, expected);
}

// A source whose left channel is a constant and whose right channel counts
// frames, so that the capture shows both the volume applied (left) and which
// source frame was heard (right divided by the volume).
constexpr int kLevel = 24000;
int CountingSample(std::size_t frame) { return int(frame * 61 % 40000) - 20000; }

std::vector<unsigned char> CountingSource(std::size_t frames) {
    std::vector<unsigned char> data(frames * 4);
    for (std::size_t i = 0; i < frames; ++i) {
        const std::int16_t samples[2] = {std::int16_t(kLevel), std::int16_t(CountingSample(i))};
        std::memcpy(&data[i * 4], samples, 4);
    }
    return data;
}

std::vector<std::int16_t> Samples(const std::vector<unsigned char>& bytes) {
    std::vector<std::int16_t> samples(bytes.size() / 2);
    if (!samples.empty()) std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

// Where the volume of a recording of CountingSource left its full level.
struct VolumeDip {
    std::size_t first = 0, quietest = 0, last = 0;  // frames
    int quietestLevel = kLevel;
    double OutMs() const { return double(quietest - first) * 1000 / 44100; }
    double InMs() const { return double(last - quietest) * 1000 / 44100; }
};

// Checks that the recording is the source frame for frame (only the volume
// may differ), then finds the one stretch where the volume is not whole.
VolumeDip FindDip(const std::vector<std::int16_t>& samples, std::size_t frames) {
    VolumeDip dip;
    EXPECT_GE(samples.size(), frames * 2) << "audio was lost";
    if (samples.size() < frames * 2) return dip;
    // The time spent paused leaves nothing in the recording, so frame i of
    // the recording must be frame i of the source wherever it is loud enough
    // to tell; a lost or repeated stretch would shift everything after it.
    dip.first = frames;
    for (std::size_t i = 0; i < frames; ++i) {
        const int left = samples[2 * i], right = samples[2 * i + 1];
        if (left != kLevel) {
            dip.first = std::min(dip.first, i);
            dip.last = i;
        }
        if (left < samples[2 * dip.quietest]) dip.quietest = i;
        if (left >= kLevel / 4) {
            const double heard = double(right) * kLevel / left;
            if (std::abs(heard - CountingSample(i)) > 8.0) {
                ADD_FAILURE() << "frame " << i << " is not the source's frame " << i;
                return dip;
            }
        }
    }
    for (std::size_t i = frames * 2; i < samples.size(); ++i)
        if (samples[i] != 0) {
            ADD_FAILURE() << "not silent after the end, at " << i;
            break;
        }
    EXPECT_LT(dip.first, dip.last) << "no fade was heard";
    dip.quietestLevel = samples[2 * dip.quietest];
    // One dip only: the volume falls to its lowest and rises again.
    for (std::size_t i = dip.first; i <= dip.last && dip.first < dip.last; ++i) {
        const int left = samples[2 * i];
        const bool falling = i <= dip.quietest;
        if (falling ? left > samples[2 * dip.first] : left < dip.quietestLevel) {
            ADD_FAILURE() << "the volume turns back at frame " << i;
            break;
        }
    }
    return dip;
}

TEST_F(PlayerTest, PauseAndResumeFadeToSilenceAndBackWithoutLosingAudio) {
    constexpr std::size_t kFrames = 2 * 44100;
    AttachWav(player_.get(), CountingSource(kFrames));
    ASSERT_EQ(player_->Start(), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return events_.Count(DISPID_OnPlayPosition) >= 4; }));
    PumpUntil([] { return false; }, 200);
    ASSERT_EQ(player_->Pause(), S_OK);
    PumpUntil([] { return false; }, 500);  // the fade and some time paused
    ASSERT_EQ(player_->Resume(), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return events_.Count(DISPID_OnPlayFinish) > 0; }));
    EXPECT_EQ(events_.Count(DISPID_OnPlayFinish), 1);
    EXPECT_EQ(events_.Count(DISPID_OnPlayStart), 1);

    VolumeDip dip = FindDip(Samples(Captured()), kFrames);
    EXPECT_LE(dip.quietestLevel, kLevel / 20) << "the fade does not reach silence";
    // Each fade takes 200 ms of played audio; the volume moves in 10 ms
    // steps and a late service turn holds a step a little longer.
    EXPECT_GT(dip.OutMs(), 170);
    EXPECT_LT(dip.OutMs(), 260);
    EXPECT_GT(dip.InMs(), 170);
    EXPECT_LT(dip.InMs(), 260);
}

TEST_F(PlayerTest, ResumeDuringTheFadeToPauseTurnsBackFromWhereItIs) {
    constexpr std::size_t kFrames = 2 * 44100;
    AttachWav(player_.get(), CountingSource(kFrames));
    ASSERT_EQ(player_->Start(), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return events_.Count(DISPID_OnPlayPosition) >= 4; }));
    PumpUntil([] { return false; }, 200);
    ASSERT_EQ(player_->Pause(), S_OK);
    PumpUntil([] { return false; }, 50);  // part of the fade
    ASSERT_EQ(player_->Resume(), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return events_.Count(DISPID_OnPlayFinish) > 0; }));

    VolumeDip dip = FindDip(Samples(Captured()), kFrames);
    EXPECT_GT(dip.quietestLevel, kLevel / 10) << "the fade went on to silence";
    EXPECT_LT(dip.quietestLevel, kLevel * 95 / 100);
    // Back up over the share of the fade already made, at the same pace.
    const double share = 1.0 - double(dip.quietestLevel) / kLevel;
    EXPECT_NEAR(dip.OutMs(), 200 * share, 30);
    EXPECT_NEAR(dip.InMs(), 200 * share, 30);
}

TEST_F(PlayerTest, SeekWhilePlayingGoesOnFromTheSoughtSecondAfterAFade) {
    auto data = PatternBytes(2 * kSecond);
    AttachWav(player_.get(), data);
    ASSERT_EQ(player_->Start(), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return events_.Count(DISPID_OnPlayPosition) >= 12; }));
    PumpUntil([] { return false; }, 200);
    ASSERT_EQ(player_->Seek(1), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return events_.Count(DISPID_OnPlayFinish) > 0; }));
    PumpUntil([] { return false; }, 300);
    EXPECT_EQ(events_.Count(DISPID_OnPlayFinish), 1);

    auto got = Captured();
    // Heard unchanged up to the seek.
    auto [differs, unused] = std::mismatch(got.begin(), got.end(), data.begin(), data.end());
    const std::size_t seekAt = std::size_t(differs - got.begin()) / 4 * 4;
    ASSERT_GT(seekAt, kSecond / 10) << "the start was not heard";
    ASSERT_LT(seekAt, kSecond) << "the seek was not heard";

    // Once the old stream has faded out and the new one in, the recording is
    // the source from second 1 on, to its end.
    const std::size_t settled = kSecond * 3 / 10;
    auto tail = data.begin() + long(kSecond + settled);
    auto at = std::search(got.begin() + long(seekAt), got.end(), tail, tail + 4096);
    ASSERT_NE(at, got.end()) << "the source from second 1 was not heard";
    ASSERT_GE(std::size_t(got.end() - at), std::size_t(data.end() - tail)) << "the end was not heard";
    EXPECT_TRUE(std::equal(tail, data.end(), at)) << "the audio after the seek differs from the source";
    for (auto i = at + (data.end() - tail); i != got.end(); ++i) ASSERT_EQ(*i, 0) << "after the end";

    // The new stream begins where the old one was left: nothing from before
    // the seek is played again, nothing held back.
    const std::size_t resumedAt = std::size_t(at - got.begin()) - settled;
    EXPECT_GE(resumedAt + kSecond / 100, seekAt) << "the new stream began before the seek";
    // (The old stream goes on fading while the new one waits a service turn
    // or two for its first data; a new stream that waited to prebuffer would
    // begin half a second late.)
    EXPECT_LE(resumedAt, seekAt + kSecond * 15 / 100) << "the new second began late";
}

TEST_F(PlayerTest, AnEightBitStreamIsPaddedWithItsSilenceValue) {
    // 2.5 s of 8 kHz 8-bit mono, more than the 2 s sound buffer, so the pad
    // behind the data is silence written over audio played before. No byte
    // of the source is 128, so the pad stands out.
    auto data = PatternBytes(20000 + 37);
    for (auto& b : data) b |= 1;
    auto decoder = FakeDecoder::Make(data, WAVEFORMATEX{1, 1, 8000, 8000, 1, 8, 0});
    decoder->stallAtEnd = true;
    // The play cursor follows a clock the test moves: the source runs dry at
    // a moment the test chooses, and the silence after it is recorded.
    std::atomic<std::int64_t> now{1'000'000'000};
    sound::SetNullSoundClock([&now] { return now.load(); });
    struct Restore {
        FakeDecoder* decoder;
        ~Restore() {
            decoder->released = true;
            sound::SetNullSoundClock({});
        }
    } restore{decoder.get()};
    constexpr std::int64_t kMs = 1'000'000;

    ASSERT_EQ(player_->put_Decoder(decoder.get()), S_OK);
    ASSERT_EQ(player_->Start(), S_OK);
    // Twice as fast as real time until the source has delivered everything.
    for (int turns = 0; !decoder->stalled; ++turns) {
        ASSERT_LT(turns, 1000) << "the source was not read to its end";
        PumpUntil([] { return false; }, 20);
        now += 40 * kMs;
    }
    // Less than the 500 ms in which an overrun is still told from a full buffer.
    for (int i = 0; i < 25; ++i) {
        PumpUntil([] { return false; }, 30);
        now += 100 * kMs;
    }
    decoder->released = true;
    ASSERT_TRUE(PumpUntil([&] { return events_.Count(DISPID_OnPlayFinish) > 0; }));
    EXPECT_EQ(events_.Count(DISPID_OnPlayError), 0);

    auto got = Captured();
    ASSERT_GT(got.size(), data.size() + 40) << "the silence after the source was not heard";
    EXPECT_TRUE(std::equal(data.begin(), data.end(), got.begin())) << "the source was not heard unchanged";
    for (std::size_t i = data.size(); i < got.size(); ++i) ASSERT_EQ(got[i], 128) << "pad byte " << i - data.size();
}

}  // namespace
}  // namespace kiv::test
