// Configuration of the virtual CD drives of vcdrive.so.
//
// vcdrive.so sits in the ASPI slot and simulates CD drives from disc
// images, for tests, demonstrations and ripping from images. The file it
// reads is named by the environment variable KIV_VCD_CONFIG; without it,
// or with a file that does not parse, the library reports no adapters (and
// says why on stderr once per version of the file).
//
// Format: one "key = value" per line; blank lines and lines starting with
// '#' or ';' are ignored; keys are case-insensitive; relative file names are
// taken from the configuration file's folder.
//
//   [drive]                 starts a drive; drives are discovered in file order
//   vendor = KIV            INQUIRY vendor identification (8 characters, padded)
//   product = Virtual CD    product identification (16 characters, padded)
//   revision = 1.00         product revision (4 characters, padded)
//   device_type = 5         5 CD-ROM (default) or 4 write-once
//   adapter = 0             address; by default drive n is adapter n / 8,
//   target = 0                target n % 8, lun 0
//   lun = 0
//
//   The disc in the drive (these keys may also open a [disc] section, below):
//   track = 01.wav          an audio track from a WAV file (44100 Hz, 16-bit,
//                           stereo PCM); one line per track, in disc order. A
//                           length that is not a whole frame is padded with
//                           silence, as a burner would.
//   data = 4500             a mode-1 data track of that many frames, at this
//                           place among the tracks (a mixed-mode disc)
//   cue = disc.cue          instead of track/data: a cue sheet whose FILE lines
//                           name BINARY, MOTOROLA or WAVE images; TRACK modes
//                           AUDIO, MODE1/2352 and MODE1/2048; INDEX 00/01,
//                           PREGAP and POSTGAP are honoured
//   session2 = 6000         enhanced CD: a second session holding one data
//                           track of that many frames
//   tray = open             no disc: the tray is open (also "empty": closed
//                           but empty)
//
//   Faults of the drive:
//   jitter = 40             every READ CD of audio starts a random number of
//                           stereo samples early or late, at most 40
//   seed = 7                seed of that randomness (default 1)
//   offset = 6              the drive's read offset: every READ CD of audio
//                           delivers the disc's audio that many stereo samples
//                           late (negative: early), so a ripper needs a read
//                           offset correction of +6 to get the disc's samples
//   unreadable = 1200 3     READ CD touching frame 1200 fails for the first 3
//                           such commands, then succeeds; "always" instead of
//                           a count never succeeds; "1200-1205 3" is a range
//   change_after = 25       after 25 commands the disc changes: the next
//                           command reports UNIT ATTENTION once and the drive
//                           holds the next disc (the same one when there is
//                           only one)
//   slow = 20               every READ CD takes that many milliseconds more
//
//   [disc]                  further discs for change_after, in order; the
//                           disc keys above, for the drive defined last
//
// Addresses follow real discs: the first track starts at LBA 0 (MSF
// 00:02:00), every track follows the previous one without a gap except that
// a change between audio and data inserts a 150-frame pregap, the lead-out
// follows the last track, and a second session's track starts 11400 frames
// after the first session's lead-out.
//
// Touching the file (a new modification time or size) is a disc change in
// every drive: the file is read again and each drive reports UNIT ATTENTION
// once on its next command.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kiv::vcd {

struct DiscSetup {
    enum class Tray { Closed, Open, Empty };

    struct Track {
        bool audio = true;
        std::string wavPath;      // audio tracks
        std::int32_t frames = 0;  // data tracks
    };

    std::vector<Track> tracks;
    std::string cuePath;
    std::int32_t session2Frames = 0;
    Tray tray = Tray::Closed;
};

struct UnreadableRange {
    std::int32_t first = 0;
    std::int32_t last = 0;  // inclusive
    int failures = 0;       // reads that fail before one succeeds
    bool always = false;
};

struct DriveSetup {
    std::string vendor = "KIV";
    std::string product = "Virtual CD";
    std::string revision = "1.00";
    std::uint8_t deviceType = 5;
    std::uint8_t adapter = 0;
    std::uint8_t target = 0;
    std::uint8_t lun = 0;
    std::vector<DiscSetup> discs;  // at least one

    int jitterSamples = 0;
    int offsetSamples = 0;
    std::uint32_t seed = 1;
    std::vector<UnreadableRange> unreadable;
    long changeAfter = 0;  // 0: never
    int slowMs = 0;
};

struct VcdConfig {
    std::vector<DriveSetup> drives;
};

// Reads and checks the file; on failure `error` holds "file:line: reason".
std::optional<VcdConfig> LoadVcdConfig(const std::string& path, std::string* error);

}  // namespace kiv::vcd
