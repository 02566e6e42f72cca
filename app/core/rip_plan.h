// Choices of a rip that do not need the CD control: which tracks, which
// format, and how a track's file is named when no CDDB record names it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "components/common/identities.h"

namespace kiv::app {

struct RipFormat {
    const char* name;       // as given on the command line
    const char* extension;  // with the dot; the encoder adds it
    const ClassIdentity* encoder;
};

// wav, mp3, ogg or wma (any letter case); nothing for anything else.
const RipFormat* FindRipFormat(std::string_view name);

// "1,3-5" as 1-based track numbers in the order given, each once; nothing
// when the text is malformed or names a track outside 1..trackCount.
std::optional<std::vector<int>> ParseTrackList(std::string_view text, int trackCount);

// "Track 01" for the first track: the name of a track nobody has named.
std::string UnnamedTrack(int number);

// The drive a command line or the desktop's audio-CD handler names: a drive
// number ("2"), a device ("/dev/sr1", or a link to it such as /dev/cdrom),
// or a cdda URI ("cdda://sr1/", "cdda:///dev/sr1"). `devices` are the
// system's CD devices in drive order. Nothing when it names none of them.
std::optional<int> DriveNumberForDevice(const std::string& device, const std::vector<std::string>& devices);

// The system's CD devices (/dev/sr0, /dev/sr1, ...) in the order the
// pass-through back-end numbers its drives.
std::vector<std::string> SystemCdDevices();

}  // namespace kiv::app
