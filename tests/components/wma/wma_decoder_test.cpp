#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

#include "tests/components/wma/wma_test_support.h"

namespace kiv::test {
namespace {

const std::string kSource = "ZEMOR.WmaDecoder.1";

class WmaDecoderTest : public WmaTest {
protected:
    void SetUp() override {
        WmaTest::SetUp();
        if (!ToolAvailable("ffmpeg") || !ToolAvailable("ffprobe")) GTEST_SKIP() << "ffmpeg/ffprobe not installed";
        dec_ = NewDecoder();
        ASSERT_TRUE(dec_);
    }
    // A WMA file made by ffmpeg from a generated signal.
    std::string Make(const std::string& name, const std::string& source, const std::string& options) {
        std::string path = dir_ / name;
        ToolRun r = RunTool("ffmpeg -v error -y -f lavfi -i " + Quote(source) + " " + options + " " + Quote(path), true);
        EXPECT_EQ(r.status, 0) << r.output;
        return path;
    }
    std::string Make3s(const std::string& name, const std::string& options = "-c:a wmav2 -b:a 32k") {
        return Make(name, "sine=f=440:d=3:r=22050", options);
    }
    ComPtr<IKivAudioDecoder> dec_;
};

TEST_F(WmaDecoderTest, FfmpegFilesReadWithTheirFormatBitrateTagsAndLength) {
    struct Case {
        const char* codec;
        int rate, channels, kbps;
    } cases[] = {
        {"wmav1", 44100, 2, 64}, {"wmav2", 22050, 1, 32}, {"wmav2", 44100, 2, 128}, {"wmav2", 32000, 2, 48},
    };
    for (const Case& c : cases) {
        const std::string tag = std::string(c.codec) + "-" + std::to_string(c.rate) + "-" + std::to_string(c.kbps);
        SCOPED_TRACE(tag);
        std::string path = Make(tag + ".wma", "sine=f=330:d=3.3:r=" + std::to_string(c.rate),
                                "-ac " + std::to_string(c.channels) + " -c:a " + c.codec + " -b:a " +
                                    std::to_string(c.kbps) + "k -metadata title=" + Quote("Title " + tag) +
                                    " -metadata artist=Someone -metadata album=Record -metadata genre=Rock"
                                    " -metadata WM/Year=2003 -metadata track=11 -metadata comment=Remark");
        ASSERT_EQ(OpenBy(dec_.get(), path), S_OK);

        const double duration = std::atof(ProbeValue(Probe(path, "format=duration"), "duration").c_str());
        LONG seconds = -1;
        ASSERT_EQ(dec_->get_Duration(&seconds), S_OK);
        EXPECT_EQ(seconds, LONG(duration)) << duration;
        WAVEFORMATEX* f = nullptr;
        ASSERT_EQ(dec_->get_Format(&f), S_OK);
        EXPECT_EQ(f->wFormatTag, 1);
        EXPECT_EQ(f->nChannels, c.channels);
        EXPECT_EQ(f->nSamplesPerSec, DWORD(c.rate));
        EXPECT_EQ(f->wBitsPerSample, 16);
        EXPECT_EQ(f->nBlockAlign, 2 * c.channels);
        EXPECT_EQ(f->nAvgBytesPerSec, DWORD(c.rate * 2 * c.channels));
        LONG bitrate = 0;
        ASSERT_EQ(dec_->get_Bitrate(&bitrate), S_OK);
        EXPECT_EQ(bitrate, c.kbps * 1000);

        ComPtr<IAudioTag> t;
        ASSERT_EQ(dec_->get_TagData(t.put()), S_OK);
        EXPECT_EQ(TagText(t.get(), &IAudioTag::get_Title), "Title " + tag);
        EXPECT_EQ(TagText(t.get(), &IAudioTag::get_Artist), "Someone");
        EXPECT_EQ(TagText(t.get(), &IAudioTag::get_Album), "Record");
        EXPECT_EQ(TagText(t.get(), &IAudioTag::get_Genre), "Rock");
        EXPECT_EQ(TagText(t.get(), &IAudioTag::get_Year), "2003");
        EXPECT_EQ(TagText(t.get(), &IAudioTag::get_TrackNo), "11");
        EXPECT_EQ(TagText(t.get(), &IAudioTag::get_Comment), "Remark");

        auto ours = ReadAll(dec_.get(), 5000);
        auto theirs = FfmpegDecode(path);
        EXPECT_EQ(ours.size(), theirs.size()) << "the same PCM length as ffmpeg decodes";
        EXPECT_TRUE(ours == theirs) << "the same decoder gives the same samples";
        LONG read = -1;
        BYTE b[16];
        EXPECT_EQ(dec_->Read(b, 16, &read), S_OK);
        EXPECT_EQ(read, 0) << "a Read after the end delivers nothing";
        ASSERT_EQ(dec_->Close(), S_OK);
    }
}

// A file that mutagen tagged the way the usual taggers do (the first
// artist in the content description, the second in the metadata library; a
// small picture among the extended attributes, a large one in the library):
// every value comes through, and the audio is ffmpeg's.
TEST_F(WmaDecoderTest, MutagenTagsWithRepeatsAndPicturesAreRead) {
    if (!MutagenAvailable()) GTEST_SKIP() << "python3-mutagen missing";
    const std::string path = Make3s("mutagen.wma");
    static const char kScript[] = R"(import sys
from mutagen.asf import ASF, ASFByteArrayAttribute
def picture(kind, mime, description, size, seed):
    data = bytes((i * seed + i // 256) % 256 for i in range(size))
    return ASFByteArrayAttribute(bytes([kind]) + size.to_bytes(4, 'little') + mime.encode('utf-16-le') + b'\0\0'
                                 + description.encode('utf-16-le') + b'\0\0' + data)
f = ASF(sys.argv[1])
f.tags['Author'] = ['Ann', 'Bob']
f.tags['WM/AlbumTitle'] = ['Disc']
f.tags['WM/Picture'] = [picture(3, 'image/png', 'small', 1000, 5), picture(8, 'image/jpeg', 'large', 200000, 3)]
f.save()
)";
    ToolRun r = RunTool("/usr/bin/python3 -c " + Quote(kScript) + " " + Quote(path), true);
    ASSERT_EQ(r.status, 0) << r.output;

    ASSERT_EQ(OpenBy(dec_.get(), path), S_OK);
    ComPtr<IAudioTag> t;
    ASSERT_EQ(dec_->get_TagData(t.put()), S_OK);
    EXPECT_EQ(TagText(t.get(), &IAudioTag::get_Artist), "Ann\nBob");
    EXPECT_EQ(TagText(t.get(), &IAudioTag::get_Album), "Disc");
    ComPtr<IKivTagPictures> pictures;
    ASSERT_EQ(dec_.As(IID_IKivTagPictures, pictures), S_OK);
    LONG count = 0;
    ASSERT_EQ(pictures->get_PictureCount(&count), S_OK);
    ASSERT_EQ(count, 2);
    TagPicture p;
    ASSERT_EQ(pictures->GetPicture(0, &p), S_OK);
    EXPECT_TRUE(p == PatternPicture(3, "image/png", u"small", 1000, 5));
    ASSERT_EQ(pictures->GetPicture(1, &p), S_OK);
    EXPECT_TRUE(p == PatternPicture(8, "image/jpeg", u"large", 200000, 3));
    EXPECT_TRUE(ReadAll(dec_.get()) == FfmpegDecode(path));
}

// 300 s into a 10-minute file: a tone that sounds from 300.0 s to 300.5 s
// must come at once, and silence after it. The start in 100-ns units (3e9)
// does not fit 32 bits.
TEST_F(WmaDecoderTest, SeekLandsAtTheRequestedSecondOfALongFile) {
    std::string path = Make("long.wma", "aevalsrc=exprs='if(between(t,300,300.5),0.5*sin(2*PI*440*t),0)':s=8000:d=600",
                            "-c:a wmav2 -b:a 24k");
    ASSERT_EQ(OpenBy(dec_.get(), path), S_OK);
    LONG seconds = 0;
    ASSERT_EQ(dec_->get_Duration(&seconds), S_OK);
    EXPECT_EQ(seconds, 600);
    ASSERT_EQ(dec_->Seek(300), S_OK);
    auto pcm = ReadAll(dec_.get());
    const std::size_t total = FfmpegDecode(path).size();
    EXPECT_NEAR(double(pcm.size()), double(total) - 300.0 * 16000, 2048.0 * 2) << "the rest of the file after 300 s";
    auto energy = [&](double from, double to) {
        double sum = 0;
        std::size_t a = std::size_t(from * 8000), b = std::min(std::size_t(to * 8000), pcm.size() / 2);
        for (std::size_t i = a; i < b; ++i) {
            auto s = static_cast<std::int16_t>(pcm[2 * i] | (pcm[2 * i + 1] << 8));
            sum += double(s) * s;
        }
        return b > a ? std::sqrt(sum / double(b - a)) : 0.0;
    };
    EXPECT_GT(energy(0.0, 0.45), 5000.0) << "the tone starts at once";
    EXPECT_LT(energy(0.6, 1.6), 300.0) << "and ends half a second later";
    LONG position = 0;
    ASSERT_EQ(dec_->get_Position(&position), S_OK);
    EXPECT_GE(position, 599);

    // Seeking again after the end starts over from there.
    ASSERT_EQ(dec_->put_Position(599), S_OK);
    EXPECT_NEAR(double(ReadAll(dec_.get()).size()), double(total) - 599.0 * 16000, 2048.0 * 2);
}

// A seek starts clean: none of the PCM decoded ahead for the old position
// (a pipe full of it here) comes out before the new position's.
TEST_F(WmaDecoderTest, SeekMidStreamDropsWhatWasDecodedAhead) {
    const std::string path = Make3s("three.wma");
    ASSERT_EQ(OpenBy(dec_.get(), path), S_OK);
    const auto whole = ReadAll(dec_.get());
    ASSERT_GT(whole.size(), 100000u);
    ASSERT_EQ(dec_->Seek(0), S_OK);
    EXPECT_TRUE(ReadAll(dec_.get()) == whole) << "after the end, back to the start";
    ASSERT_EQ(dec_->Seek(0), S_OK);
    BYTE first[4];
    LONG got = 0;
    ASSERT_EQ(dec_->Read(first, 4, &got), S_OK);
    ASSERT_EQ(dec_->Seek(0), S_OK);
    const auto again = ReadAll(dec_.get());
    EXPECT_EQ(again.size(), whole.size());
    EXPECT_TRUE(again == whole) << "from the start, as the first time";
}

// A source that stops being readable mid-stream (here the caller's
// descriptor turns into a folder's) fails the read that meets the end,
// with the system's words, instead of passing for a shorter file; a seek
// back once it reads again starts clean.
TEST_F(WmaDecoderTest, AReadFailureMidStreamIsReportedAndASeekStartsOver) {
    const std::string path = Make("long.wma", "sine=f=440:d=20:r=44100", "-ac 2 -c:a wmav2 -b:a 128k");
    ASSERT_EQ(OpenBy(dec_.get(), path), S_OK);
    const auto whole = ReadAll(dec_.get());
    ASSERT_GT(whole.size(), 44100u * 4 * 19);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(dec_->OpenHandle(reinterpret_cast<void*>(std::intptr_t{fd})), S_OK);
    std::vector<BYTE> head(100000);
    LONG got = 0;
    ASSERT_EQ(dec_->Read(head.data(), LONG(head.size()), &got), S_OK);
    ASSERT_EQ(got, LONG(head.size()));

    const off_t at = ::lseek(fd, 0, SEEK_CUR);
    const int folder = ::open(dir_.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);
    ASSERT_GE(::dup2(folder, fd), 0);
    const DecodeOutcome rest = DecodeToEnd(dec_.get());
    EXPECT_EQ(rest.error, "Internal error #80. Cannot read file. System error message: Is a directory.");
    head.insert(head.end(), rest.pcm.begin(), rest.pcm.end());
    EXPECT_LT(head.size(), whole.size());
    // What came before is the file's; only the last block (2048 frames)
    // comes out without the next one to overlap with.
    ASSERT_GT(head.size(), 8192u);
    EXPECT_TRUE(std::equal(head.begin(), head.end() - 8192, whole.begin()));

    // Readable again, where it was.
    const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(file, 0);
    ASSERT_EQ(::lseek(file, at, SEEK_SET), at);
    ASSERT_GE(::dup2(file, fd), 0);
    ::close(file);
    ::close(folder);
    ASSERT_EQ(dec_->Seek(0), S_OK);
    const DecodeOutcome again = DecodeToEnd(dec_.get());
    EXPECT_EQ(again.error, "");
    EXPECT_TRUE(again.pcm == whole) << again.pcm.size() << " bytes against " << whole.size();
    ASSERT_EQ(dec_->Close(), S_OK);
    ::close(fd);
}

TEST_F(WmaDecoderTest, OpenHandleReadsThroughTheCallersDescriptorAndLeavesItOpen) {
    std::string path = Make3s("h.wma");
    ASSERT_EQ(OpenBy(dec_.get(), path), S_OK);
    auto byName = ReadAll(dec_.get());
    int fd = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(dec_->OpenHandle(reinterpret_cast<void*>(std::intptr_t{fd})), S_OK);
    BSTR name = nullptr;
    ASSERT_EQ(dec_->get_Filename(&name), S_OK);
    EXPECT_EQ(ToUtf8(BstrView(name)), "<software handle>");
    SysFreeString(name);
    LONG seconds = 0;
    ASSERT_EQ(dec_->get_Duration(&seconds), S_OK);
    EXPECT_EQ(seconds, 3);
    EXPECT_TRUE(ReadAll(dec_.get()) == byName);
    ASSERT_EQ(dec_->Seek(1), S_OK);
    EXPECT_NEAR(double(ReadAll(dec_.get()).size()), double(byName.size()) * 2 / 3, 2048.0 * 2);
    ASSERT_EQ(dec_->Close(), S_OK);
    EXPECT_NE(::fcntl(fd, F_GETFD), -1) << "the descriptor is still the caller's";
    ::close(fd);
}

TEST_F(WmaDecoderTest, ClosedDecoderRefusesWithItsTexts) {
    LONG v = 0;
    WAVEFORMATEX* f = nullptr;
    BSTR s = nullptr;
    BYTE b[4];
    struct Case {
        const char* what;
        std::function<HRESULT()> call;
        const char* text;
    } cases[] = {
        {"Position", [&] { return dec_->get_Position(&v); }, "Error accessing property: file is not open."},
        {"Format", [&] { return dec_->get_Format(&f); }, "Error accessing property: file is not open."},
        {"Bitrate", [&] { return dec_->get_Bitrate(&v); }, "Error accessing property: file is not open."},
        {"Duration", [&] { return dec_->get_Duration(&v); }, "Error accessing property: file is not open."},
        {"Filename", [&] { return dec_->get_Filename(&s); }, "Error accessing property: file is not open."},
        {"Seek", [&] { return dec_->Seek(1); }, "Seek error: file is not open."},
        {"Position put", [&] { return dec_->put_Position(1); }, "Seek error: file is not open."},
        {"Read", [&] { return dec_->Read(b, 4, &v); }, "Read error: file is not open."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.call(), DISP_E_EXCEPTION) << c.what;
        EXPECT_EQ(TakeError(), std::make_pair(kSource, std::string(c.text))) << c.what;
    }
    EXPECT_EQ(dec_->get_Duration(nullptr), E_POINTER);
    EXPECT_EQ(dec_->Close(), S_OK);
}

TEST_F(WmaDecoderTest, FilesWithoutAudioOrNotAsfAreRefused) {
    std::string video = Make("video.wma", "testsrc=d=1:s=64x48", "-c:v msmpeg4 -f asf");
    EXPECT_EQ(OpenBy(dec_.get(), video), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError(), std::make_pair(kSource, std::string("Cannot open: no audio streams found in file.")));
    WriteFileBytes(dir_ / "junk.wma", PatternBytes(5000));
    HRESULT hr = OpenBy(dec_.get(), dir_ / "junk.wma");
    EXPECT_TRUE(FAILED(hr));
    EXPECT_EQ(OpenBy(dec_.get(), dir_ / "missing.wma"), HRESULT_FROM_WIN32(ENOENT));
    LONG v = 0;
    EXPECT_EQ(dec_->get_Duration(&v), DISP_E_EXCEPTION) << "nothing stays open";
    TakeError();
}

// Catches what the process writes to its standard error meanwhile.
class StderrCapture {
public:
    explicit StderrCapture(const std::string& path) : path_(path) {
        std::fflush(stderr);
        saved_ = ::dup(2);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ::dup2(fd, 2);
        ::close(fd);
    }
    ~StderrCapture() { Stop(); }
    std::string Stop() {
        if (saved_ >= 0) {
            std::fflush(stderr);
            ::dup2(saved_, 2);
            ::close(saved_);
            saved_ = -1;
        }
        const auto bytes = ReadFileBytes(path_);
        return {bytes.begin(), bytes.end()};
    }

private:
    std::string path_;
    int saved_ = -1;
};

// Damage to a file made by ffmpeg, packet by packet. A packet whose framing
// is damaged costs that packet, not the rest of the file; the decoder says
// how much was skipped and why (FFmpeg's own words, which stay off the
// terminal). A file whose packet size fields are 0 is refused at Open, and
// one whose every packet is damaged fails its read instead of passing for an
// empty stream.
TEST_F(WmaDecoderTest, DamagedPacketsCostOnlyThemselvesAndAreAccountedFor) {
    const std::string path = Make("five.wma", "sine=f=440:d=5:r=44100", "-ac 2 -c:a wmav2 -b:a 128k");
    const auto file = ReadFileBytes(path);
    // The data object's first packet, and the packet size of the file
    // properties object (its minimum and maximum, 92 and 96 bytes in).
    const unsigned char dataGuid[] = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                      0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
    const unsigned char propsGuid[] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                       0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
    auto find = [&](const unsigned char* guid) {
        return std::search(file.begin(), file.end(), guid, guid + 16) - file.begin();
    };
    const std::size_t first = std::size_t(find(dataGuid)) + 50;
    const std::size_t props = std::size_t(find(propsGuid));
    ASSERT_LT(props + 100, file.size());
    const std::size_t packet = file[props + 92] | file[props + 93] << 8 | file[props + 94] << 16;
    ASSERT_GT(packet, 100u);
    ASSERT_GT(file.size(), first + 10 * packet);
    const std::size_t fifth = first + 5 * packet;

    auto damaged = [&](const std::function<void(std::vector<unsigned char>&)>& damage) {
        auto bytes = file;
        damage(bytes);
        return bytes;
    };
    const std::string noAudio = "Cannot read: the file holds no audio that can be decoded; it is damaged.";
    struct Case {
        const char* what;
        std::vector<unsigned char> bytes;
        double minSeconds;
        std::string error;      // start of the failing Read's text
        std::string noteStart;  // start of the damage note
        std::string noteHas;    // and what it holds besides
    } cases[] = {
        {"whole", file, 4.9, "", "", ""},
        {"framing of a packet damaged",
         damaged([&](auto& b) { for (std::size_t i = 3; i < 7; ++i) b[fifth + i] ^= 0xFF; }), 4.4, "",
         "Source damaged: about 0.", "First problem: asf: "},
        {"a packet of zeros", damaged([&](auto& b) { std::fill_n(b.begin() + long(fifth), packet, 0); }), 4.4, "",
         "Source damaged: about 0.", ""},
        {"every packet's framing damaged",
         damaged([&](auto& b) {
             for (std::size_t at = first; at + packet <= b.size(); at += packet)
                 for (std::size_t i = 3; i < 7; ++i) b[at + i] ^= 0xFF;
         }),
         0, noAudio, "", ""},
    };
    // Packet size fields of 0: nothing tells the packets apart.
    WriteFileBytes(dir_ / "damaged.wma", damaged([&](auto& b) { std::fill_n(b.begin() + long(props + 92), 8, 0); }));
    EXPECT_EQ(OpenBy(dec_.get(), dir_ / "damaged.wma"), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError(),
              std::make_pair(kSource, std::string("Cannot open: the file's packet size is 0; the file is damaged.")));

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFileBytes(dir_ / "damaged.wma", c.bytes);
        ASSERT_EQ(OpenBy(dec_.get(), dir_ / "damaged.wma"), S_OK);
        StderrCapture capture(dir_ / "stderr.txt");
        const DecodeOutcome out = DecodeToEnd(dec_.get());
        EXPECT_EQ(capture.Stop(), "") << "nothing of FFmpeg's on the terminal";
        const double seconds = double(out.pcm.size()) / 4 / 44100;
        EXPECT_GE(seconds, c.minSeconds);
        EXPECT_LE(seconds, 5.1);
        EXPECT_EQ(out.error.substr(0, c.error.size()), c.error);
        if (c.error.empty()) {
            EXPECT_EQ(out.error, "");
        }
        EXPECT_EQ(out.damageNote.substr(0, c.noteStart.size()), c.noteStart);
        if (c.noteStart.empty() && c.error.empty()) {
            EXPECT_EQ(out.damageNote, "");
        }
        EXPECT_NE(out.damageNote.find(c.noteHas), std::string::npos) << out.damageNote;
        ASSERT_EQ(dec_->Close(), S_OK);
        EXPECT_EQ(DamageNoteOf(dec_.get()), out.damageNote) << "the account outlives Close";
    }
}

TEST_F(WmaDecoderTest, CloseMidStreamThenOpenAnotherFile) {
    std::string a = Make3s("a.wma");
    std::string b = Make("b.wma", "sine=f=550:d=2:r=44100", "-ac 2 -c:a wmav2 -b:a 64k -metadata title=Second");
    ASSERT_EQ(OpenBy(dec_.get(), a), S_OK);
    std::vector<BYTE> buf(1000);
    LONG got = 0;
    ASSERT_EQ(dec_->Read(buf.data(), 1000, &got), S_OK);
    EXPECT_GT(got, 0);
    ASSERT_EQ(dec_->Close(), S_OK) << "a decoding thread blocked on a full pipe lets go";
    ASSERT_EQ(OpenBy(dec_.get(), b), S_OK);
    WAVEFORMATEX* f = nullptr;
    ASSERT_EQ(dec_->get_Format(&f), S_OK);
    EXPECT_EQ(f->nSamplesPerSec, 44100u);
    ComPtr<IAudioTag> t;
    ASSERT_EQ(dec_->get_TagData(t.put()), S_OK);
    EXPECT_EQ(TagText(t.get(), &IAudioTag::get_Title), "Second");
    EXPECT_EQ(TagText(t.get(), &IAudioTag::get_Artist), "") << "every field is replaced at each open";
    EXPECT_EQ(ReadAll(dec_.get()).size(), FfmpegDecode(b).size());
}

}  // namespace
}  // namespace kiv::test
