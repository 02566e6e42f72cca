#include "platform/scsi/sg_device_ops.h"

#include <fcntl.h>
#include <glob.h>
#include <scsi/scsi.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace kiv::scsi {

namespace {

int DeviceNumber(const std::string& path) {
    const auto at = path.find_last_not_of("0123456789");
    return at + 1 < path.size() ? std::atoi(path.c_str() + at + 1) : -1;
}

class SystemSgDeviceOps final : public SgDeviceOps {
public:
    std::vector<std::string> ListDevices() override {
        std::vector<std::string> devices;
        glob_t found{};
        if (::glob("/dev/sr[0-9]*", 0, nullptr, &found) == 0) {
            for (std::size_t i = 0; i < found.gl_pathc; ++i) devices.emplace_back(found.gl_pathv[i]);
        }
        ::globfree(&found);
        // glob sorts by name: sr10 would come before sr2.
        std::sort(devices.begin(), devices.end(),
                  [](const std::string& a, const std::string& b) { return DeviceNumber(a) < DeviceNumber(b); });
        return devices;
    }

    int Open(const std::string& path, bool readWrite) override {
        // O_NONBLOCK: an empty or open tray must not make the open fail.
        const int fd = ::open(path.c_str(), (readWrite ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC);
        return fd >= 0 ? fd : -errno;
    }

    void Close(int fd) override { ::close(fd); }

    int Address(int fd, DeviceAddress* address) override {
        struct {
            int devId;
            int hostUniqueId;
        } idlun{};
        if (::ioctl(fd, SCSI_IOCTL_GET_IDLUN, &idlun) != 0) return -errno;
        address->target = idlun.devId & 0xFF;
        address->lun = (idlun.devId >> 8) & 0xFF;
        address->host = (idlun.devId >> 24) & 0xFF;
        return 0;
    }

    int SgIo(int fd, sg_io_hdr_t* request) override {
        for (;;) {
            if (::ioctl(fd, SG_IO, request) == 0) return 0;
            if (errno != EINTR) return -errno;
        }
    }
};

}  // namespace

std::unique_ptr<SgDeviceOps> MakeSystemSgDeviceOps() { return std::make_unique<SystemSgDeviceOps>(); }

}  // namespace kiv::scsi
