// Entry points of vcdrive.so, the virtual CD drive library for the ASPI
// slot. The drives come from the file named by KIV_VCD_CONFIG (format in
// vcdrive_config.h). The file is looked at again on every call: a new name
// starts afresh, a new modification time or size of the same file is a disc
// change in every drive.
//
// Every command completes before SendASPI32Command returns; the completion
// event of the block is signalled all the same, so a caller that waits on
// it is never left hanging.

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/scsi/completion_event.h"
#include "platform/scsi/srb.h"
#include "runtime/vcdrive/disc_image.h"
#include "runtime/vcdrive/vcdrive_config.h"
#include "runtime/vcdrive/virtual_drive.h"

namespace kiv::vcd {
namespace {

using namespace kiv::scsi;

struct FileStamp {
    bool exists = false;
    struct timespec mtime {};
    off_t size = 0;

    bool operator==(const FileStamp& other) const {
        return exists == other.exists && mtime.tv_sec == other.mtime.tv_sec &&
               mtime.tv_nsec == other.mtime.tv_nsec && size == other.size;
    }
};

FileStamp StampOf(const std::string& path) {
    FileStamp stamp;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        stamp.exists = true;
        stamp.mtime = info.st_mtim;
        stamp.size = info.st_size;
    }
    return stamp;
}

using Drives = std::vector<std::shared_ptr<VirtualDrive>>;

std::shared_ptr<VirtualDrive> MakeDrive(const DriveSetup& setup, std::string* error) {
    std::vector<DiscImage> discs;
    for (const DiscSetup& disc : setup.discs) {
        auto image = DiscImage::Build(disc, error);
        if (!image) return nullptr;
        discs.push_back(std::move(*image));
    }
    return std::make_shared<VirtualDrive>(setup, std::move(discs));
}

class Library {
public:
    // The drives of the configuration as it stands now.
    Drives Current() {
        std::lock_guard lock(lock_);
        const char* variable = std::getenv("KIV_VCD_CONFIG");
        const std::string path = variable ? variable : "";
        const FileStamp stamp = path.empty() ? FileStamp{} : StampOf(path);
        if (path != path_) {
            Load(path, stamp, false);
        } else if (!(stamp == stamp_)) {
            Load(path, stamp, true);
        }
        return drives_;
    }

private:
    void Load(const std::string& path, const FileStamp& stamp, bool discChange) {
        path_ = path;
        stamp_ = stamp;
        drives_.clear();
        if (path.empty()) return;
        std::string error;
        const auto config = LoadVcdConfig(path, &error);
        Drives drives;
        if (config) {
            for (const DriveSetup& setup : config->drives) {
                auto drive = MakeDrive(setup, &error);
                if (!drive) break;
                if (discChange) drive->SignalMediaChange();
                drives.push_back(std::move(drive));
            }
        }
        if (!error.empty()) {
            // Nobody else can tell the user why the drives vanished.
            std::fprintf(stderr, "vcdrive: %s\n", error.c_str());
            return;
        }
        drives_ = std::move(drives);
    }

    std::mutex lock_;
    std::string path_;
    FileStamp stamp_;
    Drives drives_;
};

Library& TheLibrary() {
    static Library library;
    return library;
}

BYTE AdapterCount(const Drives& drives) {
    int count = 0;
    for (const auto& drive : drives) count = std::max(count, drive->Setup().adapter + 1);
    return static_cast<BYTE>(std::min(count, 255));
}

std::shared_ptr<VirtualDrive> Find(const Drives& drives, BYTE adapter, BYTE target, BYTE lun) {
    for (const auto& drive : drives) {
        const DriveSetup& setup = drive->Setup();
        if (setup.adapter == adapter && setup.target == target && setup.lun == lun) return drive;
    }
    return nullptr;
}

void CopyText(BYTE* field, std::size_t size, const std::string& text) {
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), std::min(size, text.size()));
}

BYTE HostAdapterInquiry(const Drives& drives, SRB_HAInquiry& srb) {
    srb.HA_Count = AdapterCount(drives);
    if (srb.SRB_HaId >= srb.HA_Count) return SS_INVALID_HA;
    srb.HA_SCSI_ID = 7;
    CopyText(srb.HA_ManagerId, sizeof srb.HA_ManagerId, "KivVirtualCD");
    CopyText(srb.HA_Identifier, sizeof srb.HA_Identifier, "VCD Adapter " + std::to_string(srb.SRB_HaId));
    std::memset(srb.HA_Unique, 0, sizeof srb.HA_Unique);
    srb.HA_Unique[3] = 8;
    const DWORD largestTransfer = 0x10000;
    std::memcpy(&srb.HA_Unique[4], &largestTransfer, sizeof largestTransfer);
    return SS_COMP;
}

BYTE DeviceType(const Drives& drives, SRB_GDEVBlock& srb) {
    const auto drive = Find(drives, srb.SRB_HaId, srb.SRB_Target, srb.SRB_Lun);
    srb.SRB_DeviceType = drive ? drive->Setup().deviceType : DTYPE_UNKNOWN;
    return drive ? SS_COMP : SS_NO_DEVICE;
}

}  // namespace
}  // namespace kiv::vcd

extern "C" __attribute__((visibility("default"))) kiv::DWORD GetASPI32SupportInfo() {
    using namespace kiv::scsi;
    const auto drives = kiv::vcd::TheLibrary().Current();
    if (drives.empty()) return MakeSupportInfo(SS_NO_ADAPTERS, 0);
    return MakeSupportInfo(SS_COMP, kiv::vcd::AdapterCount(drives));
}

extern "C" __attribute__((visibility("default"))) kiv::DWORD SendASPI32Command(void* block) {
    using namespace kiv::scsi;
    if (!block) return SS_INVALID_SRB;
    const auto drives = kiv::vcd::TheLibrary().Current();
    kiv::BYTE status = SS_INVALID_CMD;
    switch (static_cast<SRB_Header*>(block)->SRB_Cmd) {
        case SC_HA_INQUIRY:
            status = kiv::vcd::HostAdapterInquiry(drives, *static_cast<SRB_HAInquiry*>(block));
            break;
        case SC_GET_DEV_TYPE:
            status = kiv::vcd::DeviceType(drives, *static_cast<SRB_GDEVBlock*>(block));
            break;
        case SC_EXEC_SCSI_CMD: {
            auto& srb = *static_cast<SRB_ExecSCSICmd*>(block);
            const auto drive = kiv::vcd::Find(drives, srb.SRB_HaId, srb.SRB_Target, srb.SRB_Lun);
            status = drive ? drive->Execute(srb) : SS_ERR;
            SetSrbStatus(block, status);
            SignalCompletion(block);
            return status;
        }
        case SC_ABORT_SRB:
            // Nothing is ever left pending here.
            status = SS_ABORT_FAIL;
            break;
        default:
            break;
    }
    SetSrbStatus(block, status);
    return status;
}
