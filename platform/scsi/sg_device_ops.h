// The handful of system calls the pass-through back-end makes on CD
// devices. They sit behind an interface so the back-end's bookkeeping
// (drive table, adapter numbering, reopen and repeat after a media change)
// can be exercised without a drive.
#pragma once

#include <scsi/sg.h>

#include <memory>
#include <string>
#include <vector>

namespace kiv::scsi {

struct DeviceAddress {
    int host = 0;  // SCSI host number: becomes the port of the drive table
    int target = 0;
    int lun = 0;
};

class SgDeviceOps {
public:
    virtual ~SgDeviceOps() = default;
    // Candidate devices (/dev/sr0, /dev/sr1, ...), in number order.
    virtual std::vector<std::string> ListDevices() = 0;
    // A descriptor, or -errno.
    virtual int Open(const std::string& path, bool readWrite) = 0;
    virtual void Close(int fd) = 0;
    // 0, or -errno (-ENOTTY/-EINVAL when the device has no SCSI address).
    virtual int Address(int fd, DeviceAddress* address) = 0;
    // The SG_IO ioctl: 0, or -errno when the command never reached the drive.
    virtual int SgIo(int fd, sg_io_hdr_t* request) = 0;
};

std::unique_ptr<SgDeviceOps> MakeSystemSgDeviceOps();

}  // namespace kiv::scsi
