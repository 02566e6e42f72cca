// vcdrive.so through the ASPI slot, as the CD component will use it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/scsi/aspi_library.h"
#include "platform/scsi/cdb.h"
#include "platform/scsi/scsi_transport.h"
#include "platform/scsi/sense.h"

namespace kiv::scsi {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<BYTE>;

constexpr DriveAddress kDrive{0, 0, 0};

// Every stereo sample differs from every other: left is the low half of its
// index, right the high half plus a salt per track. A block found anywhere
// in a track therefore says exactly where it came from.
Bytes Pcm(std::uint32_t samples, std::uint16_t salt) {
    Bytes pcm(samples * 4);
    for (std::uint32_t i = 0; i < samples; ++i) {
        const std::uint16_t left = static_cast<std::uint16_t>(i);
        const std::uint16_t right = static_cast<std::uint16_t>((i >> 16) + salt);
        std::memcpy(&pcm[i * 4], &left, 2);
        std::memcpy(&pcm[i * 4 + 2], &right, 2);
    }
    return pcm;
}

void PutLe(Bytes& out, std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) out.push_back(static_cast<BYTE>(value >> (8 * i)));
}

Bytes Wav(const Bytes& pcm, std::uint16_t channels = 2) {
    Bytes file = {'R', 'I', 'F', 'F'};
    PutLe(file, static_cast<std::uint32_t>(36 + pcm.size()), 4);
    for (char c : std::string("WAVEfmt ")) file.push_back(static_cast<BYTE>(c));
    PutLe(file, 16, 4);
    PutLe(file, 1, 2);
    PutLe(file, channels, 2);
    PutLe(file, 44100, 4);
    PutLe(file, 44100 * 2 * channels, 4);
    PutLe(file, 2 * channels, 2);
    PutLe(file, 16, 2);
    for (char c : std::string("data")) file.push_back(static_cast<BYTE>(c));
    PutLe(file, static_cast<std::uint32_t>(pcm.size()), 4);
    file.insert(file.end(), pcm.begin(), pcm.end());
    return file;
}

Bytes Padded(Bytes pcm) {
    pcm.resize((pcm.size() + kFrameSize - 1) / kFrameSize * kFrameSize, 0);
    return pcm;
}

class VcdDrive : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "vcdrive-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        auto loaded = AspiLibrary::Load(ONDALO_BUILD_DIR "/lib/vcdrive.so");
        ASSERT_TRUE(loaded.library) << loaded.error;
        transport_ = std::make_unique<ScsiTransport>(std::move(loaded.library));
    }
    void TearDown() override {
        transport_.reset();
        ::unsetenv("KIV_VCD_CONFIG");
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    std::string Write(const std::string& name, const Bytes& data) {
        const fs::path path = dir_ / name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), data.size());
        return path.string();
    }
    void Config(const std::string& text, const std::string& name = "drives.ini") {
        const fs::path path = dir_ / name;
        std::ofstream(path) << text;
        ::setenv("KIV_VCD_CONFIG", path.c_str(), 1);
    }

    CommandResult Run(const Cdb& cdb, Bytes* data = nullptr, DriveAddress drive = kDrive) {
        return transport_->Execute(drive, data ? SRB_DIR_IN : 0, cdb, data ? data->data() : nullptr,
                                   data ? static_cast<DWORD>(data->size()) : 0);
    }
    Toc ReadToc(BYTE start = 1) {
        Bytes data(2048);
        const CommandResult result = Run(scsi::ReadToc(0, TOC_FORMAT_TOC, start, 2048), &data);
        EXPECT_TRUE(result.ok()) << ParseSense(result.sense).value_or(SenseData{}).Describe();
        return ParseToc(data).value_or(Toc{});
    }
    Bytes ReadFrames(std::int32_t lba, std::uint32_t frames, CommandResult* result = nullptr) {
        Bytes data(frames * kFrameSize);
        const CommandResult got = Run(ReadCd(0, lba, frames), &data);
        if (result) *result = got;
        return data;
    }
    static SenseData SenseOf(const CommandResult& result) {
        EXPECT_FALSE(result.ok());
        return ParseSense(result.sense).value_or(SenseData{});
    }

    fs::path dir_;
    std::unique_ptr<ScsiTransport> transport_;
};

TEST_F(VcdDrive, AdaptersDrivesAndInquiry) {
    Write("a.wav", Wav(Pcm(588 * 5, 1)));
    Config(
        "# two drives\n"
        "[drive]\nvendor = ABCD\nproduct = 0123456789ABCDEF\ntrack = a.wav\n"
        "[drive]\nvendor = WORMCO\nproduct = Writer\nrevision = 2.5\ndevice_type = 4\n"
        "adapter = 1\ntarget = 3\ntray = empty\n");

    EXPECT_EQ(transport_->SupportInfo(), MakeSupportInfo(SS_COMP, 2));
    SRB_HAInquiry inquiry{};
    inquiry.SRB_Cmd = SC_HA_INQUIRY;
    inquiry.SRB_HaId = 1;
    EXPECT_EQ(transport_->Send(&inquiry), SS_COMP);
    EXPECT_EQ(inquiry.HA_Count, 2);
    EXPECT_EQ(inquiry.HA_Unique[3], 8);
    inquiry.SRB_HaId = 2;
    EXPECT_EQ(transport_->Send(&inquiry), SS_INVALID_HA);

    const auto drives = transport_->Discover();
    ASSERT_EQ(drives.size(), 2u);
    EXPECT_EQ(drives[0].deviceType, DTYPE_CDROM);
    EXPECT_EQ(drives[0].name, "ABCD    0123456789ABCDEF");
    EXPECT_EQ(drives[1].deviceType, DTYPE_WORM);
    EXPECT_EQ(drives[1].address.adapter, 1);
    EXPECT_EQ(drives[1].address.target, 3);
    EXPECT_EQ(drives[1].name, "WORMCO  Writer          ");
    EXPECT_EQ(transport_->Probe(0, 1, 0), DTYPE_UNKNOWN);

    Bytes data(36);
    ASSERT_TRUE(Run(Inquiry(0), &data, drives[1].address).ok());
    const auto parsed = ParseInquiry(data);
    EXPECT_EQ(parsed->revision, "2.5 ");
    EXPECT_EQ(parsed->deviceType, DTYPE_WORM);
}

TEST_F(VcdDrive, NoUsableConfigurationMeansNoAdapters) {
    Write("mono.wav", Wav(Pcm(100, 0), 1));
    const char* configs[] = {
        nullptr,                              // variable unset
        "[drive]\ntrack = missing.wav\n",     // file not there
        "[drive]\ntrack = mono.wav\n",        // not CD audio
        "[drive]\nspeed = 4\n",               // unknown key
        "[drive]\nunreadable = 5\n",          // count missing
        "[drive]\ntray = empty\n[drive]\ntarget = 0\ntray = empty\n",  // same address twice
    };
    int n = 0;
    for (const char* text : configs) {
        if (text) {
            Config(text, "bad" + std::to_string(++n) + ".ini");
        } else {
            ::unsetenv("KIV_VCD_CONFIG");
        }
        EXPECT_EQ(transport_->SupportInfo(), MakeSupportInfo(SS_NO_ADAPTERS, 0)) << (text ? text : "(unset)");
        EXPECT_TRUE(transport_->Discover().empty());
    }
}

TEST_F(VcdDrive, TocOfThreeAudioTracks) {
    Write("1.wav", Wav(Pcm(588 * 10, 1)));
    Write("2.wav", Wav(Pcm(588 * 7 + 250, 2)));  // not a whole frame: padded to 8
    Write("3.wav", Wav(Pcm(588 * 12, 3)));
    Config("[drive]\ntrack = 1.wav\ntrack = 2.wav\ntrack = 3.wav\n");

    const Toc toc = ReadToc();
    EXPECT_EQ(toc.firstTrack, 1);
    EXPECT_EQ(toc.lastTrack, 3);
    const std::vector<TocEntry> expected = {{0x10, 1, 0}, {0x10, 2, 10}, {0x10, 3, 18}, {0x10, kLeadOutTrack, 30}};
    EXPECT_EQ(toc.entries, expected);

    const std::vector<TocEntry> fromTrack2(expected.begin() + 1, expected.end());
    EXPECT_EQ(ReadToc(2).entries, fromTrack2);
    EXPECT_EQ(ReadToc(kLeadOutTrack).entries, std::vector<TocEntry>{expected.back()});
    Bytes data(2048);
    EXPECT_EQ(SenseOf(Run(scsi::ReadToc(0, TOC_FORMAT_TOC, 4, 2048), &data)).key, SENSE_ILLEGAL_REQUEST);

    // MSF form: track 1 at 00:02:00, lead-out 30 frames later.
    ASSERT_TRUE(Run(scsi::ReadToc(0, TOC_FORMAT_TOC, 1, 2048, true), &data).ok());
    EXPECT_EQ(Bytes(data.begin() + 8, data.begin() + 12), (Bytes{0, 0, 2, 0}));
    EXPECT_EQ(Bytes(data.begin() + 32, data.begin() + 36), (Bytes{0, 0, 2, 30}));

    // An allocation length shorter than the answer cuts it; the length field
    // still tells the whole size.
    Bytes small(12, 0xEE);
    ASSERT_TRUE(Run(scsi::ReadToc(0, TOC_FORMAT_TOC, 1, 12), &small).ok());
    EXPECT_EQ(GetBE16(small.data()), 34u);
}

TEST_F(VcdDrive, EnhancedCdHasASecondDataSession) {
    Write("1.wav", Wav(Pcm(588 * 20, 1)));
    Write("2.wav", Wav(Pcm(588 * 30, 2)));
    Config("[drive]\ntrack = 1.wav\ntrack = 2.wav\nsession2 = 500\n");

    const std::int32_t audioLeadOut = 50;
    const std::int32_t dataStart = audioLeadOut + 11400;
    const std::vector<TocEntry> expected = {
        {0x10, 1, 0}, {0x10, 2, 20}, {0x14, 3, dataStart}, {0x14, kLeadOutTrack, dataStart + 500}};
    EXPECT_EQ(ReadToc().entries, expected);

    Bytes data(12);
    ASSERT_TRUE(Run(scsi::ReadToc(0, TOC_FORMAT_SESSION_INFO, 0, 12), &data).ok());
    const auto sessions = ParseSessionInfo(data);
    ASSERT_TRUE(sessions);
    EXPECT_EQ(sessions->lastSession, 2);
    EXPECT_EQ(sessions->firstTrackOfLastSession, 3);
    EXPECT_EQ(sessions->lastSessionStart, dataStart);

    Bytes raw(2048);
    ASSERT_TRUE(Run(scsi::ReadToc(0, TOC_FORMAT_FULL_TOC, 1, 2048, true), &raw).ok());
    const auto full = ParseFullToc(raw);
    ASSERT_TRUE(full);
    EXPECT_EQ(full->lastSession, 2);
    auto find = [&](BYTE session, BYTE point) {
        for (const auto& entry : full->entries) {
            if (entry.session == session && entry.point == point) return entry.pointMsf;
        }
        ADD_FAILURE() << "no point " << int(point) << " in session " << int(session);
        return Msf{};
    };
    EXPECT_EQ(find(1, 0xA2), LbaToMsf(audioLeadOut));
    EXPECT_EQ(find(2, 3), LbaToMsf(dataStart));
    EXPECT_EQ(find(2, 0xA2), LbaToMsf(dataStart + 500));

    // The data track reads as mode-1 sectors with their own address.
    CommandResult result;
    const Bytes sector = ReadFrames(dataStart + 2, 1, &result);
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(Bytes(sector.begin(), sector.begin() + 12),
              (Bytes{0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0}));
    const Msf msf = LbaToMsf(dataStart + 2);
    auto bcd = [](int v) { return static_cast<BYTE>((v / 10) << 4 | (v % 10)); };
    EXPECT_EQ(Bytes(sector.begin() + 12, sector.begin() + 16),
              (Bytes{bcd(msf.minute), bcd(msf.second), bcd(msf.frame), 1}));
    // Asking for audio where there is data is refused.
    Bytes frame(kFrameSize);
    EXPECT_EQ(SenseOf(Run(ReadCd(0, dataStart, 1, SECTOR_CDDA), &frame)).asc, ASC_ILLEGAL_MODE_FOR_TRACK);
}

TEST_F(VcdDrive, PerfectDriveReproducesTheTracksByteForByte) {
    const std::vector<Bytes> tracks = {Pcm(588 * 31, 1), Pcm(588 * 5 + 3, 2), Pcm(588 * 40, 3)};
    std::string config = "[drive]\n";
    Bytes expected;
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        const std::string name = std::to_string(i + 1) + ".wav";
        Write(name, Wav(tracks[i]));
        config += "track = " + name + "\n";
        const Bytes padded = Padded(tracks[i]);
        expected.insert(expected.end(), padded.begin(), padded.end());
    }
    Config(config);
    const std::int32_t leadOut = ReadToc().entries.back().lba;
    ASSERT_EQ(static_cast<std::size_t>(leadOut) * kFrameSize, expected.size());

    Bytes disc;
    for (std::int32_t lba = 0; lba < leadOut; lba += 26) {
        const auto frames = static_cast<std::uint32_t>(std::min(26, leadOut - lba));
        CommandResult result;
        const Bytes block = ReadFrames(lba, frames, &result);
        ASSERT_TRUE(result.ok()) << lba;
        disc.insert(disc.end(), block.begin(), block.end());
    }
    EXPECT_TRUE(disc == expected);

    // Reading into the lead-out area gives silence, far beyond it an error.
    CommandResult result;
    const Bytes past = ReadFrames(leadOut - 1, 3, &result);
    ASSERT_TRUE(result.ok());
    EXPECT_TRUE(std::equal(past.begin(), past.begin() + kFrameSize, expected.end() - kFrameSize));
    EXPECT_TRUE(std::all_of(past.begin() + kFrameSize, past.end(), [](BYTE b) { return b == 0; }));
    ReadFrames(leadOut + 7000, 1, &result);
    EXPECT_EQ(SenseOf(result).asc, ASC_LBA_OUT_OF_RANGE);
}

TEST_F(VcdDrive, JitterShiftsBlocksByWholeSamplesWithinTheRange) {
    const Bytes pcm = Pcm(588 * 80, 0);
    Write("t.wav", Wav(pcm));
    Config("[drive]\ntrack = t.wav\njitter = 40\nseed = 3\n");
    constexpr int kRange = 40;
    int moved = 0;
    for (std::int32_t lba = 10; lba < 60; lba += 5) {
        CommandResult result;
        const Bytes block = ReadFrames(lba, 10, &result);
        ASSERT_TRUE(result.ok());
        // Where the block really starts, from the unique sample values.
        const std::uint32_t first = block[0] | (block[1] << 8) | (std::uint32_t{block[2]} << 16) | (std::uint32_t{block[3]} << 24);
        const long shift = static_cast<long>(first) - lba * 588L;
        ASSERT_LE(std::labs(shift), kRange) << lba;
        const auto at = pcm.begin() + (lba * 588L + shift) * 4;
        EXPECT_TRUE(std::equal(block.begin(), block.end(), at)) << "block at " << lba << " is not one piece";
        moved += shift != 0;
    }
    EXPECT_GT(moved, 0);
}

TEST_F(VcdDrive, UnreadableFramesFailThenRecoverOrNever) {
    Write("t.wav", Wav(Pcm(588 * 30, 0)));
    Config("[drive]\ntrack = t.wav\nunreadable = 5 2\nunreadable = 20-21 always\n");
    struct Step {
        std::int32_t lba;
        std::uint32_t frames;
        bool ok;
    };
    const Step steps[] = {{3, 4, false}, {5, 1, false}, {4, 3, true}, {5, 1, true},
                          {18, 3, false}, {21, 1, false}, {21, 1, false}, {22, 4, true}};
    for (const Step& step : steps) {
        CommandResult result;
        const Bytes block = ReadFrames(step.lba, step.frames, &result);
        EXPECT_EQ(result.ok(), step.ok) << "frame " << step.lba;
        if (!step.ok) {
            const SenseData sense = SenseOf(result);
            EXPECT_EQ(sense.key, SENSE_MEDIUM_ERROR);
            EXPECT_EQ(sense.asc, ASC_UNRECOVERED_READ_ERROR);
            EXPECT_TRUE(sense.infoValid);
            EXPECT_EQ(sense.info, std::max<std::uint32_t>(step.lba, step.lba < 10 ? 5u : 20u));
        } else {
            const std::uint32_t value = block[0] | (block[1] << 8);
            EXPECT_EQ(value, static_cast<std::uint32_t>(step.lba * 588) & 0xFFFF);
        }
    }
}

TEST_F(VcdDrive, EmptyTrayAndTrayCommands) {
    Write("t.wav", Wav(Pcm(588 * 30, 0)));
    Config(
        "[drive]\ntray = open\n"
        "[drive]\ntray = empty\n"
        "[drive]\ntrack = t.wav\n");
    struct Case {
        DriveAddress drive;
        BYTE ascq;
    };
    for (const Case& c : {Case{{0, 0, 0}, 0x02}, Case{{0, 1, 0}, 0x01}}) {
        Bytes data(2048);
        for (const Cdb& cdb : {TestUnitReady(), scsi::ReadToc(0, 0, 1, 2048), ReadCd(0, 0, 1)}) {
            const SenseData sense = SenseOf(Run(cdb, cdb.bytes[0] ? &data : nullptr, c.drive));
            EXPECT_TRUE(sense.IsMediumNotPresent()) << int(cdb.bytes[0]);
            EXPECT_EQ(sense.ascq, c.ascq);
        }
        Bytes inquiry(36);
        EXPECT_TRUE(Run(Inquiry(0), &inquiry, c.drive).ok());
    }

    const DriveAddress loaded{0, 2, 0};
    ASSERT_TRUE(Run(TestUnitReady(), nullptr, loaded).ok());
    EXPECT_TRUE(Run(SetCdSpeed(0, 704, 704), nullptr, loaded).ok());
    ASSERT_TRUE(Run(StartStopUnit(0, false), nullptr, loaded).ok());
    EXPECT_TRUE(SenseOf(Run(TestUnitReady(), nullptr, loaded)).IsMediumNotPresent());
    ASSERT_TRUE(Run(StartStopUnit(0, true), nullptr, loaded).ok());
    EXPECT_TRUE(SenseOf(Run(TestUnitReady(), nullptr, loaded)).IsUnitAttention());
    EXPECT_TRUE(Run(TestUnitReady(), nullptr, loaded).ok());
}

TEST_F(VcdDrive, DiscChangeAfterCommandsIsOneUnitAttention) {
    Write("a.wav", Wav(Pcm(588 * 10, 1)));
    Write("b.wav", Wav(Pcm(588 * 20, 2)));
    Config("[drive]\ntrack = a.wav\nchange_after = 3\n[disc]\ntrack = b.wav\ntrack = a.wav\n");
    EXPECT_EQ(ReadToc().lastTrack, 1);
    EXPECT_TRUE(Run(TestUnitReady()).ok());
    EXPECT_TRUE(Run(TestUnitReady()).ok());
    const SenseData sense = SenseOf(Run(TestUnitReady()));
    EXPECT_TRUE(sense.IsUnitAttention());
    EXPECT_EQ(sense.asc, ASC_MEDIUM_MAY_HAVE_CHANGED);
    const Toc toc = ReadToc();
    EXPECT_EQ(toc.lastTrack, 2);
    EXPECT_EQ(toc.entries.back().lba, 30);
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(Run(TestUnitReady()).ok());
}

TEST_F(VcdDrive, TouchingTheConfigurationChangesTheDisc) {
    Write("a.wav", Wav(Pcm(588 * 10, 1)));
    Write("b.wav", Wav(Pcm(588 * 20, 2)));
    Config("[drive]\ntrack = a.wav\n");
    EXPECT_EQ(ReadToc().entries.back().lba, 10);
    Config("[drive]\ntrack = b.wav\n");
    // Make sure the file looks new even on a coarse clock.
    const struct timespec times[2] = {{1000, 0}, {1000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (dir_ / "drives.ini").c_str(), times, 0), 0);
    EXPECT_TRUE(SenseOf(Run(TestUnitReady())).IsUnitAttention());
    EXPECT_EQ(ReadToc().entries.back().lba, 20);
    EXPECT_TRUE(Run(TestUnitReady()).ok());
}

TEST_F(VcdDrive, CueSheetWithBinImagePlacesTracksAsTheCueSays) {
    // 70 frames in the file; track 2 has 20 frames of pregap inside the
    // file (INDEX 00), track 3 ten frames of PREGAP that are not.
    const Bytes image = Pcm(588 * 70, 7);
    Write("disc image.bin", image);
    const std::string cue =
        "REM made by hand\r\nFILE \"disc image.bin\" BINARY\r\n"
        "  TRACK 01 AUDIO\r\n    TITLE \"one\"\r\n    INDEX 01 00:00:00\r\n"
        "  TRACK 02 AUDIO\r\n    INDEX 00 00:00:20\r\n    INDEX 01 00:00:40\r\n"
        "  TRACK 03 AUDIO\r\n    PREGAP 00:00:10\r\n    INDEX 01 00:00:50\r\n";
    Write("disc.cue", Bytes(cue.begin(), cue.end()));
    Config("[drive]\ncue = disc.cue\n");
    const std::vector<TocEntry> expected = {{0x10, 1, 0}, {0x10, 2, 40}, {0x10, 3, 60}, {0x10, kLeadOutTrack, 80}};
    EXPECT_EQ(ReadToc().entries, expected);

    CommandResult result;
    const Bytes disc = ReadFrames(0, 80, &result);
    ASSERT_TRUE(result.ok());
    const std::size_t split = 50 * kFrameSize;
    EXPECT_TRUE(std::equal(disc.begin(), disc.begin() + split, image.begin()));
    EXPECT_TRUE(std::all_of(disc.begin() + split, disc.begin() + 60 * kFrameSize, [](BYTE b) { return b == 0; }));
    EXPECT_TRUE(std::equal(disc.begin() + 60 * kFrameSize, disc.end(), image.begin() + split));
}

TEST_F(VcdDrive, CueSheetWithWaveAndCookedDataFiles) {
    const Bytes audio = Pcm(588 * 12, 4);
    Write("audio.wav", Wav(audio));
    Bytes user(2048 * 6);
    for (std::size_t i = 0; i < user.size(); ++i) user[i] = static_cast<BYTE>(i * 13 + 1);
    Write("data.iso", user);
    const std::string cue =
        "FILE audio.wav WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"
        "FILE data.iso BINARY\nTRACK 02 MODE1/2048\nPREGAP 00:02:00\nINDEX 01 00:00:00\n";
    Write("mixed.cue", Bytes(cue.begin(), cue.end()));
    Config("[drive]\ncue = mixed.cue\n");
    const std::vector<TocEntry> expected = {{0x10, 1, 0}, {0x14, 2, 162}, {0x14, kLeadOutTrack, 168}};
    EXPECT_EQ(ReadToc().entries, expected);

    CommandResult result;
    EXPECT_TRUE(ReadFrames(0, 12, &result) == audio);
    Bytes cooked(2048 * 2);
    ASSERT_TRUE(Run(ReadCd(0, 163, 2, SECTOR_MODE1, READ_CD_USER_DATA), &cooked).ok());
    EXPECT_TRUE(std::equal(cooked.begin(), cooked.end(), user.begin() + 2048));
}

TEST_F(VcdDrive, ReadsWavFilesMadeByFfmpeg) {
    if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg not installed";
    const std::string wav = (dir_ / "tone.wav").string();
    const std::string raw = (dir_ / "tone.raw").string();
    // ffmpeg writes a LIST chunk before the samples: the chunk walk must skip it.
    const std::string make = "ffmpeg -nostdin -loglevel error -f lavfi -i sine=frequency=440:duration=0.4 "
                             "-ac 2 -ar 44100 -c:a pcm_s16le '" + wav + "' && ffmpeg -nostdin -loglevel error -i '" +
                             wav + "' -f s16le -c:a pcm_s16le '" + raw + "'";
    ASSERT_EQ(std::system(make.c_str()), 0);
    std::ifstream in(raw, std::ios::binary);
    const Bytes pcm((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(pcm.empty());
    Config("[drive]\ntrack = tone.wav\n");
    const std::int32_t leadOut = ReadToc().entries.back().lba;
    CommandResult result;
    const Bytes disc = ReadFrames(0, static_cast<std::uint32_t>(leadOut), &result);
    ASSERT_TRUE(result.ok());
    EXPECT_TRUE(disc == Padded(pcm));
}

}  // namespace
}  // namespace kiv::scsi
