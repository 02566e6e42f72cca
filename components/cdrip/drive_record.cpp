#include "components/cdrip/drive_record.h"

#include <cstring>

#include "platform/scsi/sense.h"

namespace kiv::cdrip {

DriveRecord::DriveRecord(std::shared_ptr<scsi::ScsiTransport> transport, const scsi::DiscoveredDrive& found)
    : transport_(std::move(transport)), address_(found.address), name_(found.name) {}

scsi::CommandResult DriveRecord::Run(BYTE direction, const scsi::Cdb& cdb, void* buffer, DWORD length) {
    std::lock_guard lock(commandLock_);
    scsi::CommandResult result = transport_->Execute(address_, direction, cdb, buffer, length);
    lastStatus_ = result.status;
    return result;
}

void DriveRecord::ReadToc(TocBuffer& toc) {
    const scsi::Cdb cdb = scsi::ReadToc(address_.lun, scsi::TOC_FORMAT_TOC, 1, kTocBufferSize);
    for (int attempt = 0; attempt < 2; ++attempt) {
        toc.fill(0);
        const scsi::CommandResult result = Run(scsi::SRB_DIR_IN, cdb, toc.data(), toc.size());
        if (result.ok()) return;
        const auto sense = scsi::ParseSense(result.sense);
        if (!sense || !sense->IsUnitAttention()) break;
    }
    toc.fill(0);
}

bool DriveRecord::TestUnitReady() {
    for (int attempt = 0; attempt < 2; ++attempt) {
        const scsi::CommandResult result = Run(0, scsi::TestUnitReady(), nullptr, 0);
        if (result.ok()) return true;
        const auto sense = scsi::ParseSense(result.sense);
        if (!sense || !sense->IsUnitAttention()) break;
    }
    return false;
}

void DriveRecord::StartStop(bool load) { Run(scsi::SRB_DIR_OUT, scsi::StartStopUnit(address_.lun, load), nullptr, 0); }

void DriveRecord::SetSpeed(WORD kilobytesPerSecond) {
    Run(scsi::SRB_DIR_OUT, scsi::SetCdSpeed(address_.lun, kilobytesPerSecond, kilobytesPerSecond), nullptr, 0);
}

bool DriveRecord::ReadFrames(std::int32_t lba, std::uint32_t frames, BYTE* buffer) {
    const DWORD length = frames * kFrameBytes;
    std::memset(buffer, 0, length);
    return Run(scsi::SRB_DIR_IN, scsi::ReadCd(address_.lun, lba, frames), buffer, length).ok();
}

}  // namespace kiv::cdrip
