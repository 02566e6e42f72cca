// The pass-through back-end: answers our request blocks with SG_IO on the
// system's CD devices (/dev/sr*), for machines with nothing in the ASPI
// slot.
//
// At construction every device is opened once, asked for INQUIRY and its
// SCSI address, and closed again; the result is the drive table. Devices
// sharing a SCSI host become targets of one emulated adapter: adapter n is
// the n-th smallest host number. A device without a SCSI address is given
// the port of its own device number, target 0, lun 0.
//
// Commands open a device lazily and keep it open. A drive reporting UNIT
// ATTENTION (a disc change, a reset) or a descriptor that went stale gets
// its table entry refreshed and the command repeated once, so callers never
// see the media change itself; they notice a new disc by its TOC. Commands
// for one drive run one at a time. INQUIRY never reaches the drive: it is
// answered from the data captured when the table was built.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/scsi/scsi_backend.h"
#include "platform/scsi/sg_device_ops.h"
#include "platform/scsi/srb.h"

namespace kiv::scsi {

class PassThrough final : public ScsiBackend {
public:
    static constexpr char kManagerId[] = "NtScsiInterface";
    static constexpr unsigned kTimeoutMs = 15000;

    explicit PassThrough(std::unique_ptr<SgDeviceOps> ops = MakeSystemSgDeviceOps());
    ~PassThrough() override;
    PassThrough(const PassThrough&) = delete;
    PassThrough& operator=(const PassThrough&) = delete;

    // Devices that answered as CD drives when the table was built.
    std::size_t ValidDriveCount() const;

    DWORD SupportInfo() override;
    DWORD Send(void* srb) override;

private:
    struct Entry;

    // Port of emulated adapter `haId`, or -1 when there is no such adapter.
    int PortOf(BYTE haId) const;
    Entry* Find(int port, BYTE target, BYTE lun);
    // Opens the entry's device if needed: read-write first (SET CD SPEED
    // needs it), read-only as the fallback. 0 or -errno.
    int OpenDevice(Entry& entry);
    void CloseDevice(Entry& entry);
    // Reads INQUIRY data and address into the entry; closes the device.
    void Refresh(Entry& entry);
    BYTE Execute(Entry& entry, SRB_ExecSCSICmd& srb, bool mayRepeat);
    BYTE HostAdapterInquiry(SRB_HAInquiry& srb) const;
    BYTE DeviceType(SRB_GDEVBlock& srb);

    std::unique_ptr<SgDeviceOps> ops_;
    std::vector<std::unique_ptr<Entry>> entries_;
    std::vector<int> ports_;  // ascending, distinct
    // Guards the address fields of the entries, which a refresh may change
    // while another thread looks a drive up.
    mutable std::mutex tableLock_;
};

}  // namespace kiv::scsi
