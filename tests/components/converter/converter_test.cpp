#include <gtest/gtest.h>

#include <thread>

#include "platform/com/connection_point.h"
#include "platform/com/object.h"
#include "platform/system/pipe.h"
#include "platform/system/text.h"
#include "tests/support/test_env.h"

namespace kiv::test {
namespace {

// A decoder the test steers: CD-quality pattern bytes, a gate that holds
// every Read until the test opens it, and a Read that fails on demand.
class FakeDecoder final : public DispatchImpl<IKivAudioDecoder, kDispAudioDecoder> {
public:
    static ComPtr<FakeDecoder> Make(std::size_t bytes) {
        auto d = ComPtr<FakeDecoder>::adopt(new FakeDecoder());
        d->data_ = PatternBytes(bytes);
        return d;
    }
    Event gate{true, true};  // open unless the test closes it
    Event reading{true, false};  // set when a Read has begun
    int failAtRead = -1;  // 0-based Read call that fails
    bool closed = false;

    // Posted to the creating thread's queue just before the Read that
    // reports the end, as a decoding thread tells of a failure and then
    // ends its stream.
    std::u16string errorAtEnd;

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IKivAudioDecoder) {
            *ppv = static_cast<IKivAudioDecoder*>(this);
            AddRef();
            return S_OK;
        }
        if (riid == IID_IConnectionPointContainer) {
            *ppv = static_cast<IConnectionPointContainer*>(&events_);
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
    HRESULT get_Position(LONG* v) override { *v = LONG(pos_ / 176400); return S_OK; }
    HRESULT put_Position(LONG) override { return E_NOTIMPL; }
    HRESULT get_Format(WAVEFORMATEX** f) override { *f = &format_; return S_OK; }
    HRESULT get_Bitrate(LONG* v) override { *v = 1411200; return S_OK; }
    HRESULT get_Duration(LONG* v) override { *v = LONG(data_.size() / 176400); return S_OK; }
    HRESULT get_TagData(IAudioTag** t) override { *t = nullptr; return E_NOTIMPL; }
    HRESULT get_Filename(BSTR* s) override { *s = SysAllocString(u"fake.wav"); return S_OK; }
    HRESULT Seek(LONG) override { return E_NOTIMPL; }
    HRESULT Read(BYTE* data, LONG count, LONG* read) override {
        reading.Set();
        gate.Wait();
        if (reads_++ == failAtRead) return E_FAIL;
        std::size_t n = std::min<std::size_t>(std::size_t(count), data_.size() - pos_);
        if (n == 0 && !errorAtEnd.empty()) {
            PostMessage(window_, WM_USER, 0, 0);
            errorAtEnd.clear();
        }
        std::copy_n(data_.begin() + long(pos_), n, data);
        pos_ += n;
        *read = LONG(n);
        return S_OK;
    }
    HRESULT Close() override { closed = true; return S_OK; }

private:
    // The decoder's OnError, fired on the creating thread like a real one's.
    struct Events final : IConnectionPointContainer {
        explicit Events(FakeDecoder* owner) : owner(owner), point(owner, DIID_IKivAudioDecoderEvents) {}
        HRESULT QueryInterface(REFIID riid, void** ppv) override { return owner->QueryInterface(riid, ppv); }
        ULONG AddRef() override { return owner->AddRef(); }
        ULONG Release() override { return owner->Release(); }
        HRESULT EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
        HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** cp) override {
            if (riid != DIID_IKivAudioDecoderEvents) return CONNECT_E_NOCONNECTION;
            *cp = &point;
            point.AddRef();
            return S_OK;
        }
        FakeDecoder* owner;
        ConnectionPoint point;
    };

    FakeDecoder()
        : window_(CreateHelperWindow(u"FakeDecoderHelper", [this](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT {
              if (msg == WM_USER) {
                  Variant text(u"MP3 stream is damaged.");
                  events_.point.Fire(DISPID_OnError, std::span<VARIANT>(static_cast<VARIANT*>(&text), 1));
              }
              return 0;
          })) {}

    friend struct ::kiv::RefCount;
    ~FakeDecoder() { DestroyWindow(window_); }
    Events events_{this};
    HWND window_;
    RefCount refs_;
    WAVEFORMATEX format_{1, 2, 44100, 176400, 4, 16, 0};
    std::vector<unsigned char> data_;
    std::size_t pos_ = 0;
    int reads_ = 0;
};

class ConverterTest : public ComponentTest {
protected:
    void SetUp() override {
        ComponentTest::SetUp();
        conv_ = Create<IKivAudioConverter>(kClassAudioConverter.clsid, IID_IKivAudioConverter);
        ASSERT_TRUE(conv_);
        sink_ = DispatchSink::Create(DIID_IKivAudioConverterEvents, [this](DISPID id, DISPPARAMS& p) {
            std::string arg;
            if (id == DISPID_OnError) arg = ToUtf8(EventArgText(p, 0));
            if (id == DISPID_OnConvProgress) arg = std::to_string(EventArgLong(p, 0));
            events_.emplace_back(id, arg);
            if (onEvent_) onEvent_(id);
        });
        ASSERT_EQ(events.Connect(conv_.get(), DIID_IKivAudioConverterEvents, sink_.get()), S_OK);
    }
    void TearDown() override {
        events.Disconnect();
        conv_.reset();
        ComponentTest::TearDown();
    }

    // A WAV source, opened through the converter, and a WAV destination opened at `out`.
    ComPtr<IKivAudioEncoder> Prepare(const std::vector<unsigned char>& data, const std::string& out) {
        WriteFileBytes(dir_ / "src.wav", MakeWav(data));
        Bstr src(FromUtf8(dir_ / "src.wav"));
        EXPECT_EQ(conv_->CreateDecoderFor(src.get()), S_OK);
        auto enc = Create<IKivAudioEncoder>(kClassWaveEncoder.clsid, IID_IKivAudioEncoder);
        if (!out.empty()) {
            Bstr dst(FromUtf8(out));
            EXPECT_EQ(enc->Open(dst.get()), S_OK);
        }
        EXPECT_EQ(conv_->put_Destination(enc.get()), S_OK);
        return enc;
    }
    bool Finished() const {
        for (auto& e : events_)
            if (e.first == DISPID_OnConvFinish) return true;
        return false;
    }
    std::vector<DISPID> Ids() const {
        std::vector<DISPID> ids;
        for (auto& e : events_)
            if (ids.empty() || ids.back() != e.first || e.first != DISPID_OnConvProgress) ids.push_back(e.first);
        return ids;
    }
    std::vector<unsigned char> Samples(const std::string& wav) {
        auto f = ReadFileBytes(wav);
        return f.size() < 46 ? std::vector<unsigned char>() : std::vector<unsigned char>(f.begin() + 46, f.end());
    }

    ComPtr<IKivAudioConverter> conv_;
    ComPtr<DispatchSink> sink_;
    EventConnection events;
    std::vector<std::pair<DISPID, std::string>> events_;
    std::function<void(DISPID)> onEvent_;
};

TEST_F(ConverterTest, ConvertsWithEventsInOrderAndClosesBothCodecs) {
    auto data = PatternBytes(176400 * 3 + 4000);
    auto enc = Prepare(data, dir_ / "out.wav");
    ASSERT_EQ(conv_->Go(), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return Finished(); }));
    EXPECT_EQ(Ids(), (std::vector<DISPID>{DISPID_OnConvStart, DISPID_OnConvProgress, DISPID_OnConvFinish}));
    std::vector<int> progress;
    for (auto& e : events_)
        if (e.first == DISPID_OnConvProgress) progress.push_back(std::stoi(e.second));
    ASSERT_FALSE(progress.empty());
    for (std::size_t i = 1; i < progress.size(); ++i) EXPECT_NE(progress[i], progress[i - 1]) << "each percent once";
    EXPECT_EQ(progress.back(), 100);
    EXPECT_EQ(Samples(dir_ / "out.wav"), data);
    Bstr name;
    EXPECT_EQ(enc->get_Filename(name.put()), DISP_E_EXCEPTION) << "the encoder was closed";
    TakeError();
}

TEST_F(ConverterTest, DecoderFailureEndsWithOneErrorThenFinish) {
    auto enc = Prepare(PatternBytes(1000), dir_ / "out.wav");
    ComPtr<IKivAudioDecoder> src;
    ASSERT_EQ(conv_->get_Source(src.put()), S_OK);
    ASSERT_EQ(src->Close(), S_OK);  // Format now fails
    ASSERT_EQ(conv_->Go(), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return Finished(); }));
    ASSERT_EQ(events_.size(), 3u);
    EXPECT_EQ(events_[0].first, DISPID_OnConvStart);
    EXPECT_EQ(events_[1], std::make_pair(DISPID(DISPID_OnError),
                                         std::string("Cannot proceed: decoder failed: Error accessing property: file is not open.")));
    EXPECT_EQ(events_[2].first, DISPID_OnConvFinish);
}

TEST_F(ConverterTest, ADecoderErrorToldAsItsStreamEndsFailsTheConversionWhateverTheTiming) {
    // The decoder's text reaches the converter only through the client's
    // queue, after the worker may have seen the end and closed everything.
    for (int round = 0; round < 3; ++round) {
        events_.clear();
        auto fake = FakeDecoder::Make(176400 + 1000);
        fake->errorAtEnd = u"set";
        auto enc = Create<IKivAudioEncoder>(kClassWaveEncoder.clsid, IID_IKivAudioEncoder);
        Bstr out(FromUtf8(dir_ / "out.wav"));
        enc->put_OverwritePrompt(0);
        ASSERT_EQ(enc->Open(out.get()), S_OK);
        ASSERT_EQ(conv_->put_Source(fake.get()), S_OK);
        ASSERT_EQ(conv_->put_Destination(enc.get()), S_OK);
        ASSERT_EQ(conv_->Go(), S_OK);
        ASSERT_TRUE(PumpUntil([&] { return Finished(); }));
        EXPECT_EQ(Ids(), (std::vector<DISPID>{DISPID_OnConvStart, DISPID_OnConvProgress, DISPID_OnError,
                                              DISPID_OnConvFinish}))
            << "round " << round;
        for (const auto& e : events_)
            if (e.first == DISPID_OnError) {
                EXPECT_EQ(e.second, "Error: decoder failed: MP3 stream is damaged.");
            }
    }
}

TEST_F(ConverterTest, WriteFailureWaitsForTheEncoderThenReportsItsText) {
    Prepare(PatternBytes(5000), "");  // the destination is never opened
    ASSERT_EQ(conv_->Go(), S_OK);
    // While the worker waits for the encoder's own account, a conversion is in progress.
    EXPECT_EQ(conv_->Go(), DISP_E_EXCEPTION) << "a second Go is refused at once";
    EXPECT_EQ(TakeError(), std::make_pair(std::string("ZEMOR.AudioConverter.1"),
                                          std::string("Error: method mustn't be called when conversion is in progress.")));
    EXPECT_EQ(conv_->put_Source(nullptr), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, "Error: cannot set property: conversion in progress.");
    EXPECT_EQ(conv_->put_KeepTags(0), DISP_E_EXCEPTION);
    TakeError();
    ASSERT_TRUE(PumpUntil([&] { return Finished(); }));
    ASSERT_EQ(events_.size(), 3u);
    EXPECT_EQ(events_[1].second, "Cannot write samples, encoder failed: Error: cannot write: file is not open.");
}

TEST_F(ConverterTest, CancelBeforeTheFirstWriteClosesBothWithoutError) {
    auto fake = FakeDecoder::Make(176400 * 4);
    fake->gate.Reset();
    auto enc = Prepare(PatternBytes(10), dir_ / "out.wav");
    ASSERT_EQ(conv_->put_Source(fake.get()), S_OK);
    ASSERT_EQ(conv_->Go(), S_OK);
    ASSERT_TRUE(fake->reading.Wait(10000));
    ASSERT_EQ(conv_->CancelConversion(), S_OK);
    fake->gate.Set();
    ASSERT_TRUE(PumpUntil([&] { return Finished(); }));
    EXPECT_EQ(Ids(), (std::vector<DISPID>{DISPID_OnConvStart, DISPID_OnConvFinish}));
    EXPECT_TRUE(fake->closed);
    EXPECT_EQ(fs::file_size(dir_ / "out.wav"), 0u) << "closed before the first write: an empty file";
    EXPECT_EQ(conv_->CancelConversion(), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, "Cannot cancel conversion because there's no conversion process running...");
}

TEST_F(ConverterTest, ReadFailuresWithoutATextAreReported) {
    struct Case {
        int failAt;
        const char* text;
    } cases[] = {
        {0, "Cannot read samples, decoder failed."},  // the very first Read
        {2, "Cannot read samples, decoder failed."},  // in the loop, after the wait for OnError
    };
    for (const Case& c : cases) {
        events_.clear();
        auto fake = FakeDecoder::Make(176400 * 2);
        fake->failAtRead = c.failAt;
        auto enc = Prepare(PatternBytes(10), dir_ / ("out" + std::to_string(c.failAt) + ".wav"));
        ASSERT_EQ(conv_->put_Source(fake.get()), S_OK);
        ASSERT_EQ(conv_->Go(), S_OK);
        ASSERT_TRUE(PumpUntil([&] { return Finished(); }));
        std::vector<std::string> errors;
        for (auto& e : events_)
            if (e.first == DISPID_OnError) errors.push_back(e.second);
        EXPECT_EQ(errors, std::vector<std::string>{c.text}) << c.failAt;
        EXPECT_EQ(events_.back().first, DISPID_OnConvFinish);
        EXPECT_FALSE(fake->closed) << "after an error the codecs stay open";
        enc->Close();
    }
}

TEST_F(ConverterTest, NextConversionCanStartFromTheFinishHandler) {
    auto data = PatternBytes(50000);
    auto enc = Prepare(data, dir_ / "first.wav");
    auto second = Create<IKivAudioEncoder>(kClassWaveEncoder.clsid, IID_IKivAudioEncoder);
    HRESULT started = E_UNEXPECTED;
    int finishes = 0;
    onEvent_ = [&](DISPID id) {
        if (id != DISPID_OnConvFinish || ++finishes != 1) return;
        Bstr src(FromUtf8(dir_ / "src.wav")), dst(FromUtf8(dir_ / "second.wav"));
        conv_->CreateDecoderFor(src.get());
        second->Open(dst.get());
        conv_->put_Destination(second.get());
        started = conv_->Go();
    };
    ASSERT_EQ(conv_->Go(), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return finishes == 2; }));
    EXPECT_EQ(started, S_OK);
    EXPECT_EQ(Samples(dir_ / "second.wav"), data);
}

// Go again as soon as the last run's worker is done, before the client has
// pumped its events: a codec's text still queued for the first run counts
// for the first run alone, and each run's events come once, in order.
TEST_F(ConverterTest, BackToBackRunsKeepTheirOwnEventsAndCodecTexts) {
    auto waitUntilIdle = [&] {
        // put_KeepTags is refused while a conversion is in progress.
        for (int i = 0; i < 500 && conv_->put_KeepTags(1) != S_OK; ++i) {
            TakeError();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    };
    struct Run {
        ComPtr<FakeDecoder> source;
        ComPtr<IKivAudioEncoder> destination;
    };
    std::vector<Run> runs;
    for (const char* name : {"first.wav", "second.wav"}) {
        Run run{FakeDecoder::Make(176400 + 1000), Create<IKivAudioEncoder>(kClassWaveEncoder.clsid, IID_IKivAudioEncoder)};
        Bstr out(FromUtf8(dir_ / name));
        ASSERT_EQ(run.destination->Open(out.get()), S_OK);
        runs.push_back(run);
    }
    runs[0].source->errorAtEnd = u"set";
    for (const Run& run : runs) {
        waitUntilIdle();
        ASSERT_EQ(conv_->put_Source(run.source.get()), S_OK);
        ASSERT_EQ(conv_->put_Destination(run.destination.get()), S_OK);
        ASSERT_EQ(conv_->Go(), S_OK);
    }
    waitUntilIdle();
    EXPECT_TRUE(events_.empty()) << "nothing pumped yet";
    int finishes = 0;
    ASSERT_TRUE(PumpUntil([&] {
        finishes = 0;
        for (const auto& e : events_) finishes += e.first == DISPID_OnConvFinish;
        return finishes == 2;
    }));
    PumpUntil([] { return false; }, 200);  // nothing more may come
    EXPECT_EQ(Ids(), (std::vector<DISPID>{DISPID_OnConvStart, DISPID_OnConvProgress, DISPID_OnError,
                                          DISPID_OnConvFinish, DISPID_OnConvStart, DISPID_OnConvProgress,
                                          DISPID_OnConvFinish}));
    for (const auto& e : events_)
        if (e.first == DISPID_OnError) {
            EXPECT_EQ(e.second, "Error: decoder failed: MP3 stream is damaged.");
        }
}

TEST_F(ConverterTest, CancelMidwayLeavesACompleteFileOfWhatWasWritten) {
    auto data = PatternBytes(176400 * 20);
    Prepare(data, dir_ / "out.wav");
    onEvent_ = [&](DISPID id) {
        if (id == DISPID_OnConvProgress) {
            conv_->CancelConversion();
            onEvent_ = nullptr;
        }
    };
    ASSERT_EQ(conv_->Go(), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return Finished(); }));
    for (auto& e : events_) EXPECT_NE(e.first, DISPID_OnError);
    auto written = Samples(dir_ / "out.wav");
    ASSERT_FALSE(written.empty());
    ASSERT_LE(written.size(), data.size());
    EXPECT_TRUE(std::equal(written.begin(), written.end(), data.begin())) << "a prefix of the source";
    auto f = ReadFileBytes(dir_ / "out.wav");
    EXPECT_EQ(f[42] | f[43] << 8 | f[44] << 16 | std::uint32_t(f[45]) << 24, written.size())
        << "the header was finished";
}

TEST_F(ConverterTest, AClientThatDoesNotPumpGetsEventsOnlyLater) {
    Prepare(PatternBytes(20000), dir_ / "out.wav");
    ASSERT_EQ(conv_->Go(), S_OK);
    // The conversion ends without the client's help; poll until it has.
    for (int i = 0; i < 100; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (FAILED(conv_->CancelConversion())) break;
    }
    TakeError();
    EXPECT_TRUE(events_.empty());
    ASSERT_TRUE(PumpUntil([&] { return Finished(); }));
    EXPECT_EQ(events_.front().first, DISPID_OnConvStart);
}

TEST_F(ConverterTest, ASourceShorterThanASecondStillConverts) {
    auto data = PatternBytes(1000);
    Prepare(data, dir_ / "out.wav");
    ASSERT_EQ(conv_->Go(), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return Finished(); }));
    for (auto& e : events_) EXPECT_NE(e.first, DISPID_OnError);
    EXPECT_EQ(Samples(dir_ / "out.wav"), data);
}

TEST_F(ConverterTest, GuardsAndGoSync) {
    EXPECT_EQ(conv_->Go(), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, "Cannot run conversion: no decoder connected.");
    EXPECT_EQ(conv_->OpenDestination(), DISP_E_EXCEPTION) << "refused without a source, too";
    EXPECT_EQ(TakeError().second, "Cannot run conversion: no decoder connected.");
    auto data = PatternBytes(3001);
    auto enc = Prepare(data, dir_ / "sync.wav");
    conv_->put_Destination(nullptr);
    EXPECT_EQ(conv_->GoSync(), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, "Cannot run conversion: no encoder connected.");
    conv_->put_Destination(enc.get());
    ASSERT_EQ(conv_->GoSync(), S_OK);
    EXPECT_TRUE(events_.empty()) << "GoSync fires nothing";
    auto out = Samples(dir_ / "sync.wav");
    ASSERT_EQ(out.size(), data.size() + 1) << "odd data keeps its pad byte";
    EXPECT_TRUE(std::equal(data.begin(), data.end(), out.begin()));
}

TEST_F(ConverterTest, OpenDestinationCutsAtTheLastDotEvenInAFolderName) {
    fs::create_directories(dir_.path() / "music.v2");
    WriteFileBytes(dir_ / "music.v2/track", MakeWav(PatternBytes(100)));
    auto dec = Create<IKivAudioDecoder>(kClassWaveDecoder.clsid, IID_IKivAudioDecoder);
    Bstr name(FromUtf8(dir_ / "music.v2/track"));
    ASSERT_EQ(dec->Open(name.get()), S_OK);
    ASSERT_EQ(conv_->put_Source(dec.get()), S_OK);
    auto enc = Create<IKivAudioEncoder>(kClassWaveEncoder.clsid, IID_IKivAudioEncoder);
    ASSERT_EQ(conv_->put_Destination(enc.get()), S_OK);
    ASSERT_EQ(conv_->OpenDestination(), S_OK);
    Bstr opened;
    ASSERT_EQ(enc->get_Filename(opened.put()), S_OK);
    EXPECT_EQ(ToUtf8(opened.view()), dir_ / "music.wav");
    enc->Close();
}

TEST_F(ConverterTest, TagsAreCopiedUnlessKeepTagsIsOffSetThroughDispatch) {
    auto data = PatternBytes(4000);
    for (bool keep : {true, false}) {
        events_.clear();
        auto enc = Prepare(data, dir_ / (keep ? "keep.wav" : "drop.wav"));
        ComPtr<IKivAudioDecoder> src;
        conv_->get_Source(src.put());
        ComPtr<IAudioTag> srcTags, dstTags;
        src->get_TagData(srcTags.put());
        enc->get_TagData(dstTags.put());
        Bstr a(u"Artist \u00e9"), c(u"client's own");
        srcTags->put_Artist(a.get());
        dstTags->put_Comment(c.get());

        // The application sets KeepTags by name, through IDispatch.
        ComPtr<IDispatch> disp;
        ASSERT_EQ(conv_->QueryInterface(IID_IDispatch, disp.put_void()), S_OK);
        LPOLESTR names[] = {const_cast<LPOLESTR>(u"KeepTags")};
        DISPID id;
        ASSERT_EQ(disp->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_BOOL;
        v.boolVal = keep ? VARIANT_TRUE : VARIANT_FALSE;
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS p{&v, &named, 1, 1};
        ASSERT_EQ(disp->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUT, &p, nullptr, nullptr, nullptr), S_OK);
        VARIANT_BOOL stored;
        conv_->get_KeepTags(&stored);
        EXPECT_EQ(stored, keep ? VARIANT_TRUE : VARIANT_FALSE) << "stored as given";

        ASSERT_EQ(conv_->Go(), S_OK);
        ASSERT_TRUE(PumpUntil([&] { return Finished(); }));
        Bstr artist, comment;
        dstTags->get_Artist(artist.put());
        dstTags->get_Comment(comment.put());
        EXPECT_EQ(artist.view(), keep ? u"Artist \u00e9" : u"");
        EXPECT_EQ(comment.view(), keep ? u"" : u"client's own") << "all seven fields are copied, empty ones too";
    }
}

TEST_F(ConverterTest, ReleasingDuringAConversionCancelsAndWaits) {
    Prepare(PatternBytes(176400 * 30), dir_ / "out.wav");
    ASSERT_EQ(conv_->Go(), S_OK);
    events.Disconnect();
    conv_.reset();  // returns only once the worker is done
    auto f = ReadFileBytes(dir_ / "out.wav");
    EXPECT_TRUE(f.empty() || f.size() >= 46) << "the destination is either untouched or finished";
}

}  // namespace
}  // namespace kiv::test
