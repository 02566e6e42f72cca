#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/system/pipe.h"
#include "platform/system/text.h"
#include "tests/components/vorbis/vorbis_test_support.h"

namespace kiv::test {
namespace {

class VorbisDecoderTest : public VorbisTest {
protected:
    void SetUp() override {
        VorbisTest::SetUp();
        dec_ = NewDecoder();
        ASSERT_TRUE(dec_);
    }
    HRESULT Open(const std::string& name) {
        Bstr n(FromUtf8(dir_ / name));
        return dec_->Open(n.get());
    }
    // A tone made by sox and encoded by oggenc; false when a tool is missing.
    bool OggencFile(const std::string& name, int rate, int channels, double seconds, const std::string& quality) {
        if (!HaveTool("sox") || !HaveTool("oggenc")) return false;
        const std::string wav = dir_ / (name + ".wav");
        ToolRun r = RunTool("sox -n -r " + std::to_string(rate) + " -c " + std::to_string(channels) + " -b 16 '" + wav +
                            "' synth " + std::to_string(seconds) + " sine 300-900 vol 0.5");
        EXPECT_EQ(r.status, 0) << r.output;
        r = RunTool("oggenc -Q -q " + quality + " -o '" + (dir_ / name) + "' '" + wav + "'");
        EXPECT_EQ(r.status, 0) << r.output;
        return r.status == 0;
    }
    // oggdec's PCM for a file: the reference our Read must match.
    std::vector<unsigned char> Reference(const std::string& name) {
        const std::string wav = dir_ / (name + ".ref.wav");
        ToolRun r = RunTool("oggdec -Q -o '" + wav + "' '" + (dir_ / name) + "'");
        EXPECT_EQ(r.status, 0) << r.output;
        auto bytes = ReadFileBytes(wav);
        long size = WavDataSize(wav);
        if (size < 0 || bytes.size() < std::size_t(size)) return {};
        return {bytes.end() - size, bytes.end()};
    }
    std::u16string Tag(HRESULT (IAudioTag::*get)(BSTR*)) {
        ComPtr<IAudioTag> tag;
        EXPECT_EQ(dec_->get_TagData(tag.put()), S_OK);
        Bstr v;
        EXPECT_EQ((tag.get()->*get)(v.put()), S_OK);
        return v.str();
    }
    ComPtr<IKivAudioDecoder> dec_;
};

TEST_F(VorbisDecoderTest, OggencFilesOpenWithTheirFormatDurationBitrateAndPcm) {
    if (!HaveTool("oggdec") || !HaveTool("ogginfo")) GTEST_SKIP() << "oggdec or ogginfo missing";
    struct Case {
        int rate, channels;
        double seconds;
        const char* quality;
    } cases[] = {
        {22050, 1, 2.6, "0"},
        {48000, 2, 3.2, "5"},
        {44100, 2, 1.5, "9"},
        {48000, 1, 2.1, "-1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.channels << " ch, q" << c.quality);
        const std::string name = "ref" + std::to_string(c.rate) + "_" + std::to_string(c.channels) + ".ogg";
        if (!OggencFile(name, c.rate, c.channels, c.seconds, c.quality)) GTEST_SKIP() << "sox or oggenc missing";
        ASSERT_EQ(Open(name), S_OK);
        WAVEFORMATEX* f = nullptr;
        ASSERT_EQ(dec_->get_Format(&f), S_OK);
        EXPECT_EQ(f->wFormatTag, WAVE_FORMAT_PCM);
        EXPECT_EQ(f->nChannels, c.channels);
        EXPECT_EQ(f->nSamplesPerSec, DWORD(c.rate));
        EXPECT_EQ(f->wBitsPerSample, 16);
        EXPECT_EQ(f->nBlockAlign, 2 * c.channels);
        EXPECT_EQ(f->nAvgBytesPerSec, DWORD(2 * c.channels * c.rate));
        EXPECT_EQ(f->cbSize, 0);
        LONG duration = -1, bitrate = -1, position = -1;
        ASSERT_EQ(dec_->get_Duration(&duration), S_OK);
        EXPECT_EQ(duration, LONG(c.seconds)) << "whole seconds, truncated";
        ASSERT_EQ(dec_->get_Bitrate(&bitrate), S_OK);
        // ogginfo averages the audio pages over the stream's length.
        ToolRun info = RunTool("ogginfo '" + (dir_ / name) + "'");
        const std::size_t at = info.output.find("Average bitrate: ");
        ASSERT_NE(at, std::string::npos) << info.output;
        EXPECT_NEAR(bitrate / (std::stod(info.output.substr(at + 17)) * 1000), 1.0, 0.01) << "the whole stream's average";
        ASSERT_EQ(dec_->get_Position(&position), S_OK);
        EXPECT_EQ(position, 0);
        EXPECT_EQ(ReadAll(dec_.get()), Reference(name)) << "the same PCM as oggdec, byte for byte";
        ASSERT_EQ(dec_->Close(), S_OK);
    }
}

// Damage to files made by oggenc: a page with a bad checksum costs that
// page, as oggdec reads it, and the decoder says so; a chain whose second
// link has another rate and channel count fails the read at the change
// instead of handing out that link's PCM under the first link's format.
TEST_F(VorbisDecoderTest, LostPagesAreReadOverAndAFormatChangeFails) {
    if (!HaveTool("oggdec")) GTEST_SKIP() << "oggdec missing";
    if (!OggencFile("a.ogg", 44100, 2, 4.0, "3") || !OggencFile("mono.ogg", 22050, 1, 2.0, "3"))
        GTEST_SKIP() << "sox or oggenc missing";
    // The checksum of a page in the middle (bytes 22-25 of its header).
    auto bytes = ReadFileBytes(dir_ / "a.ogg");
    std::vector<std::size_t> pages;
    for (std::size_t i = 0; i + 4 <= bytes.size(); ++i)
        if (std::memcmp(bytes.data() + i, "OggS", 4) == 0) pages.push_back(i);
    ASSERT_GE(pages.size(), 5u);
    bytes[pages[pages.size() / 2] + 22] ^= 0xFF;
    WriteFileBytes(dir_ / "badcrc.ogg", bytes);
    auto chain = ReadFileBytes(dir_ / "a.ogg");
    const auto second = ReadFileBytes(dir_ / "mono.ogg");
    chain.insert(chain.end(), second.begin(), second.end());
    WriteFileBytes(dir_ / "chain.ogg", chain);

    const auto whole = Reference("a.ogg");
    const auto reference = Reference("badcrc.ogg");
    ASSERT_LT(reference.size(), whole.size()) << "the damage costs oggdec audio too";
    const double lost = double(whole.size() - reference.size()) / 4 / 44100;

    ASSERT_EQ(Open("badcrc.ogg"), S_OK);
    DecodeOutcome out = DecodeToEnd(dec_.get());
    EXPECT_EQ(out.error, "");
    EXPECT_EQ(out.pcm, reference) << "the same PCM as oggdec";
    char expected[64];
    std::snprintf(expected, sizeof expected, "Source damaged: about %.1f s skipped.", lost);
    EXPECT_EQ(out.damageNote, expected);
    ASSERT_EQ(Open("a.ogg"), S_OK);
    EXPECT_EQ(DamageNoteOf(dec_.get()), "") << "a new file starts with a clean account";

    ASSERT_EQ(Open("chain.ogg"), S_OK);
    out = DecodeToEnd(dec_.get());
    EXPECT_EQ(out.error,
              "The stream changes from 44100 Hz stereo to 22050 Hz mono after 4 s; a change of format within a file "
              "is not supported.");
    EXPECT_EQ(out.pcm.size(), whole.size()) << "the first link whole, nothing of the second";
    ASSERT_EQ(dec_->Close(), S_OK);
}

TEST_F(VorbisDecoderTest, CommentsFillTheTagsWithRepeatsJoinedByLineFeeds) {
    if (!OggencFile("tagged.ogg", 44100, 2, 1.0, "3") || !HaveTool("vorbiscomment"))
        GTEST_SKIP() << "sox, oggenc or vorbiscomment missing";
    ToolRun r = RunTool("vorbiscomment -w -R -t 'title=A' -t 'Title=B' -t 'ARTIST=C' -t 'album=Caf\xc3\xa9 \xf0\x9f\x8e\xb5'"
                        " -t 'Date=1999' -t 'genre=Rock' -t 'TrackNumber=3' -t 'comment=first' '" +
                        (dir_ / "tagged.ogg") + "'");
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_EQ(Open("tagged.ogg"), S_OK);
    EXPECT_EQ(Tag(&IAudioTag::get_Title), u"A\nB");
    EXPECT_EQ(Tag(&IAudioTag::get_Artist), u"C");
    EXPECT_EQ(Tag(&IAudioTag::get_Album), u"Caf\u00e9 \U0001F3B5");
    EXPECT_EQ(Tag(&IAudioTag::get_Year), u"1999");
    EXPECT_EQ(Tag(&IAudioTag::get_Genre), u"Rock");
    EXPECT_EQ(Tag(&IAudioTag::get_TrackNo), u"3");
    EXPECT_EQ(Tag(&IAudioTag::get_Comment), u"first");

    // The next file has no date: the year of the previous one does not stay.
    MakeOggWithComments(dir_ / "plain.ogg", {"TITLE=x"});
    ASSERT_EQ(Open("plain.ogg"), S_OK);
    EXPECT_EQ(Tag(&IAudioTag::get_Year), u"");
    EXPECT_EQ(Tag(&IAudioTag::get_Title), u"x");
}

TEST_F(VorbisDecoderTest, OddCommentBytesAreReadSafely) {
    struct Case {
        std::vector<std::string> comments;
        HRESULT (IAudioTag::*get)(BSTR*);
        std::u16string expected;
    } cases[] = {
        {{"no equals sign here"}, &IAudioTag::get_Comment, u"no equals sign here"},
        {{"COMMENT=one", "two"}, &IAudioTag::get_Comment, u"one\ntwo"},
        {{"title=\xf0\x9f\x98\x80!"}, &IAudioTag::get_Title, u"\U0001F600!"},  // four bytes -> a surrogate pair
        {{"title=ab\xc3"}, &IAudioTag::get_Title, u"ab\uFFFD"},                 // cut short at the end
        {{"title=\xe2\x82"}, &IAudioTag::get_Title, u"\uFFFD\uFFFD"},
        {{"title=\x80x\xff"}, &IAudioTag::get_Title, u"\uFFFDx\uFFFD"},
        {{"title=\xc0\xaf"}, &IAudioTag::get_Title, u"\uFFFD\uFFFD"},  // overlong
        {{"=empty key"}, &IAudioTag::get_Title, u""},
        {{std::string(5000, 'K') + "=long key", "ARTIST=after"}, &IAudioTag::get_Artist, u"after"},
        {{std::string(1024, 'a') + "=v"}, &IAudioTag::get_Title, u""},
    };
    int i = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(i);
        const std::string name = "odd" + std::to_string(i++) + ".ogg";
        MakeOggWithComments(dir_ / name, c.comments, 0.2);
        ASSERT_EQ(Open(name), S_OK);
        EXPECT_EQ(Tag(c.get), c.expected);
    }
}

TEST_F(VorbisDecoderTest, ReadHandsOutAtMost65536BytesAndThenZero) {
    MakeOggWithComments(dir_ / "r.ogg", {}, 2.0);
    ASSERT_EQ(Open("r.ogg"), S_OK);
    const std::size_t total = 2 * 44100 * 4;
    std::vector<BYTE> buf(100000);
    std::size_t got = 0;
    std::vector<LONG> sizes;
    for (;;) {
        LONG n = -1;
        ASSERT_EQ(dec_->Read(buf.data(), 100000, &n), S_OK);
        sizes.push_back(n);
        if (n == 0) break;
        got += std::size_t(n);
    }
    EXPECT_EQ(got, total);
    ASSERT_GE(sizes.size(), 3u);
    for (std::size_t k = 0; k + 2 < sizes.size(); ++k) EXPECT_EQ(sizes[k], 65536);
    EXPECT_EQ(sizes[sizes.size() - 2], LONG(total % 65536)) << "the last piece is what remains";
    LONG n = -1;
    EXPECT_EQ(dec_->Read(buf.data(), 100, &n), S_OK);
    EXPECT_EQ(n, 0) << "still the end";
    EXPECT_EQ(dec_->Read(buf.data(), 0, &n), S_OK);
    EXPECT_EQ(n, 0);
}

TEST_F(VorbisDecoderTest, SeekMovesToTheSecondAndDropsWhatWasDecodedBefore) {
    MakeOggWithComments(dir_ / "s.ogg", {}, 3.0);
    ASSERT_EQ(Open("s.ogg"), S_OK);
    auto all = ReadAll(dec_.get());
    ASSERT_EQ(all.size(), 3u * 44100 * 4);

    std::vector<BYTE> buf(1000);
    LONG n = 0;
    ASSERT_EQ(dec_->Seek(0), S_OK);
    ASSERT_EQ(dec_->Read(buf.data(), 1000, &n), S_OK);  // leaves decoded PCM in the buffer
    ASSERT_EQ(n, 1000);
    ASSERT_EQ(dec_->Seek(2), S_OK);
    LONG pos = -1;
    ASSERT_EQ(dec_->get_Position(&pos), S_OK);
    EXPECT_EQ(pos, 2);
    auto rest = ReadAll(dec_.get(), 4096);
    ASSERT_EQ(rest.size(), all.size() - 2 * 44100 * 4);
    EXPECT_TRUE(std::equal(rest.begin(), rest.end(), all.begin() + 2 * 44100 * 4))
        << "the audio from second 2 on, nothing from before the seek";

    struct Refused {
        LONG to;
    } refused[] = {{-1}, {4}, {100000}};
    for (auto r : refused) {
        EXPECT_EQ(dec_->Seek(r.to), DISP_E_EXCEPTION) << r.to;
        EXPECT_EQ(TakeError(), (std::pair<std::string, std::string>{"ZEMOR.VorbisDecoder.1", "Seek error."}));
    }
    EXPECT_EQ(dec_->put_Position(1), S_OK);
    ASSERT_EQ(dec_->get_Position(&pos), S_OK);
    EXPECT_EQ(pos, 1);
}

TEST_F(VorbisDecoderTest, ACallersPipeReadsToTheEndButCannotSeekOrTellItsDuration) {
    MakeOggWithComments(dir_ / "p.ogg", {"TITLE=piped"}, 1.5);
    auto bytes = ReadFileBytes(dir_ / "p.ogg");
    ASSERT_EQ(Open("p.ogg"), S_OK);
    auto expected = ReadAll(dec_.get());

    Pipe pipe;
    ASSERT_TRUE(pipe.Create());
    std::thread writer([&] {
        WriteAll(pipe.write.get(), bytes.data(), bytes.size());
        pipe.write.reset();
    });
    ASSERT_EQ(dec_->OpenHandle(reinterpret_cast<void*>(std::intptr_t(pipe.read.get()))), S_OK);
    Bstr name;
    ASSERT_EQ(dec_->get_Filename(name.put()), S_OK);
    EXPECT_EQ(name.view(), u"<software handle>");
    EXPECT_EQ(Tag(&IAudioTag::get_Title), u"piped");
    LONG v = 0;
    EXPECT_EQ(dec_->get_Duration(&v), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, "Cannot detect stream duration. Stream is non-seekable.");
    EXPECT_EQ(dec_->Seek(1), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, "Seek error: cannot seek when using application handle.");
    ASSERT_EQ(dec_->get_Bitrate(&v), S_OK);
    EXPECT_GT(v, 0);
    EXPECT_EQ(ReadAll(dec_.get(), 7000), expected);
    writer.join();
    ASSERT_EQ(dec_->Close(), S_OK);
    EXPECT_NE(::fcntl(pipe.read.get(), F_GETFD), -1) << "the caller's descriptor stays open";

    // A seekable descriptor of the caller's gives a duration but still no seeking.
    UniqueFd file(::open((dir_ / "p.ogg").c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(dec_->OpenHandle(reinterpret_cast<void*>(std::intptr_t(file.get()))), S_OK);
    ASSERT_EQ(dec_->get_Duration(&v), S_OK);
    EXPECT_EQ(v, 1);
    EXPECT_EQ(dec_->Seek(1), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, "Seek error: cannot seek when using application handle.");
}

TEST_F(VorbisDecoderTest, WhatIsNotVorbisIsRefusedAndLeavesNothingOpen) {
    WriteFileBytes(dir_ / "fake.ogg", MakeWav(PatternBytes(20000)));
    EXPECT_EQ(Open("fake.ogg"), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError(),
              (std::pair<std::string, std::string>{"ZEMOR.VorbisDecoder.1", "Cannot open: not an OggVorbis file."}));
    WAVEFORMATEX* f = nullptr;
    EXPECT_EQ(dec_->get_Format(&f), DISP_E_EXCEPTION);
    TakeError();

    EXPECT_EQ(Open("missing.ogg"), E_FAIL) << "a file-system failure carries no text";

    // A caller's descriptor that holds no Vorbis stays the caller's.
    UniqueFd fd(::open((dir_ / "fake.ogg").c_str(), O_RDONLY | O_CLOEXEC));
    EXPECT_EQ(dec_->OpenHandle(reinterpret_cast<void*>(std::intptr_t(fd.get()))), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, "Cannot open: not an OggVorbis file.");
    EXPECT_NE(::fcntl(fd.get(), F_GETFD), -1);
    EXPECT_EQ(dec_->OpenHandle(reinterpret_cast<void*>(std::intptr_t(-1))), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, "Cannot open: not an OggVorbis file.");
}

TEST_F(VorbisDecoderTest, AClosedDecoderRefusesWithItsTexts) {
    MakeOggWithComments(dir_ / "c.ogg", {}, 0.3);
    ASSERT_EQ(Open("c.ogg"), S_OK);
    ASSERT_EQ(dec_->Close(), S_OK);
    ASSERT_EQ(dec_->Close(), S_OK) << "closing twice is harmless";
    LONG v;
    WAVEFORMATEX* f;
    Bstr s;
    BYTE b[16];
    const std::string prop = "Error accessing property: file is not open.";
    struct Case {
        std::function<HRESULT()> call;
        std::string text;
    } cases[] = {
        {[&] { return dec_->get_Position(&v); }, prop},
        {[&] { return dec_->get_Format(&f); }, prop},
        {[&] { return dec_->get_Bitrate(&v); }, prop},
        {[&] { return dec_->get_Duration(&v); }, prop},
        {[&] { return dec_->get_Filename(s.put()); }, prop},
        {[&] { return dec_->Seek(0); }, "Seek error: file is not open."},
        {[&] { return dec_->put_Position(0); }, "Seek error: file is not open."},
        {[&] { return dec_->Read(b, 16, &v); }, "Read error: file is not open."},
    };
    for (auto& c : cases) {
        EXPECT_EQ(c.call(), DISP_E_EXCEPTION) << c.text;
        EXPECT_EQ(TakeError(), (std::pair<std::string, std::string>{"ZEMOR.VorbisDecoder.1", c.text}));
    }
    EXPECT_EQ(dec_->get_Duration(nullptr), E_POINTER);
    EXPECT_EQ(dec_->Read(nullptr, 16, &v), E_POINTER);
    EXPECT_EQ(dec_->Read(b, 16, nullptr), E_POINTER);
}

}  // namespace
}  // namespace kiv::test
