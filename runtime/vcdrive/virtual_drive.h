// One simulated CD drive: answers execute request blocks from its disc and
// plays the faults it was configured with. Commands are taken one at a
// time; a slow drive holds the caller for its delay, as a real one would.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <random>
#include <span>
#include <vector>

#include "platform/scsi/sense.h"
#include "platform/scsi/srb.h"
#include "runtime/vcdrive/disc_image.h"
#include "runtime/vcdrive/vcdrive_config.h"

namespace kiv::vcd {

class VirtualDrive {
public:
    VirtualDrive(DriveSetup setup, std::vector<DiscImage> discs);

    const DriveSetup& Setup() const { return setup_; }
    // The disc was swapped behind the host's back: report it once.
    void SignalMediaChange();
    // Fills status, sense and data of an execute block; returns the status.
    BYTE Execute(scsi::SRB_ExecSCSICmd& srb);

private:
    // What a command produced: data for the host, or sense for a failure.
    struct Answer {
        bool good = true;
        scsi::SenseData sense;
        std::vector<std::uint8_t> data;
    };
    static Answer Fail(BYTE key, BYTE asc, BYTE ascq = 0, std::optional<std::int32_t> lba = std::nullopt);

    const DiscImage& Disc() const { return discs_[discIndex_]; }
    Answer Run(std::span<const std::uint8_t> cdb);
    Answer Inquiry() const;
    Answer NotReady() const;
    Answer ReadToc(std::span<const std::uint8_t> cdb) const;
    Answer ReadCd(std::span<const std::uint8_t> cdb);
    Answer StartStop(std::span<const std::uint8_t> cdb);
    // Counts a read of every bad frame in the range; true while one fails.
    bool FailsRead(std::int32_t first, std::int32_t count, std::int32_t* failing);

    std::mutex lock_;
    DriveSetup setup_;
    std::vector<DiscImage> discs_;
    std::size_t discIndex_ = 0;
    bool trayOpen_ = false;
    bool unitAttention_ = false;
    long commands_ = 0;
    bool changed_ = false;
    std::mt19937 random_;
    std::map<std::int32_t, int> readsOfBadFrames_;
};

}  // namespace kiv::vcd
