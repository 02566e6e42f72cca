// One extraction job of the control: a track of a drive into a WAV file or
// into the host's encoder.
#pragma once

#include <string>

#include <atomic>

#include "platform/com/unknown.h"
#include "platform/msg/message_queue.h"

namespace kiv::cdrip {

class Drive;

struct ExtractionJob {
    enum class Kind { Wav = 0, Encoder = 1 };
    ComPtr<Drive> drive;
    int trackIndex = 0;
    Kind kind = Kind::Wav;
    std::u16string fileName;
    // Encoder jobs: tags from the record text (UTF-8), the drive's active
    // CDDB record at the time of the call.
    bool writeTag = false;
    std::string recordText;
};

// What the drives share with their control: the window events go to and
// the flag that keeps pollers away while a run reads the disc.
struct RunState {
    std::atomic<bool> inProgress{false};
    std::atomic<bool> cancel{false};
    HWND window = nullptr;
};

}  // namespace kiv::cdrip
