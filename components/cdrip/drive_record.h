// One CD drive as the control sees it: its SCSI address and name, the
// transport that reaches it, and the commands of the drive objects and the
// extraction loop. Commands for one drive run one at a time, because the
// control's thread, the drive's disc-change poller and the extraction
// thread all use the same device.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "components/cdrip/track_table.h"
#include "platform/scsi/scsi_transport.h"

namespace kiv::cdrip {

using TocBuffer = std::array<BYTE, kTocBufferSize>;

class DriveRecord {
public:
    DriveRecord(std::shared_ptr<scsi::ScsiTransport> transport, const scsi::DiscoveredDrive& found);

    const std::string& name() const { return name_; }
    const scsi::DriveAddress& address() const { return address_; }
    BYTE lastStatus() const { return lastStatus_; }

    // READ TOC into `toc`; a drive that refuses (no disc, tray open) leaves
    // it all zero. A unit attention (the disc has just changed) is asked
    // again once, so that a fresh disc is not taken for an empty drive.
    void ReadToc(TocBuffer& toc);
    bool TestUnitReady();
    void StartStop(bool load);
    void SetSpeed(WORD kilobytesPerSecond);
    // READ CD of whole 2352-byte frames; false when the drive failed.
    bool ReadFrames(std::int32_t lba, std::uint32_t frames, BYTE* buffer);

private:
    scsi::CommandResult Run(BYTE direction, const scsi::Cdb& cdb, void* buffer, DWORD length);

    std::shared_ptr<scsi::ScsiTransport> transport_;
    scsi::DriveAddress address_;
    std::string name_;
    std::mutex commandLock_;
    BYTE lastStatus_ = 0;
};

}  // namespace kiv::cdrip
