#include "platform/scsi/pass_through.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <set>
#include <string>

#include "platform/scsi/cdb.h"
#include "platform/scsi/completion_event.h"
#include "platform/scsi/sense.h"

namespace kiv::scsi {

struct PassThrough::Entry {
    std::string path;
    int index = 0;  // device number: the port when the address is unknown
    int port = 0;
    BYTE target = 0;
    BYTE lun = 0;
    bool valid = false;
    int fd = -1;
    std::array<BYTE, 36> inquiry{};
    std::mutex commandLock;  // one command at a time per drive
};

namespace {

bool IsStaleDescriptor(int error) { return error == EBADF || error == ENODEV || error == ENXIO; }

bool AddressUnknown(int error) { return error == ENOTTY || error == EINVAL || error == EOPNOTSUPP; }

void CopyText(BYTE* field, std::size_t size, const std::string& text) {
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), std::min(size, text.size()));
}

}  // namespace

PassThrough::PassThrough(std::unique_ptr<SgDeviceOps> ops) : ops_(std::move(ops)) {
    const std::vector<std::string> devices = ops_->ListDevices();
    for (std::size_t i = 0; i < devices.size(); ++i) {
        auto entry = std::make_unique<Entry>();
        entry->path = devices[i];
        const auto digits = entry->path.find_last_not_of("0123456789");
        entry->index = digits + 1 < entry->path.size() ? std::stoi(entry->path.substr(digits + 1)) : int(i);
        Refresh(*entry);
        entries_.push_back(std::move(entry));
    }
    std::set<int> ports;
    for (const auto& entry : entries_) {
        if (entry->valid) ports.insert(entry->port);
    }
    ports_.assign(ports.begin(), ports.end());
}

PassThrough::~PassThrough() {
    for (auto& entry : entries_) CloseDevice(*entry);
}

std::size_t PassThrough::ValidDriveCount() const {
    std::lock_guard lock(tableLock_);
    return static_cast<std::size_t>(
        std::count_if(entries_.begin(), entries_.end(), [](const auto& entry) { return entry->valid; }));
}

DWORD PassThrough::SupportInfo() {
    if (ports_.empty()) return MakeSupportInfo(SS_NO_ADAPTERS, 0);
    return MakeSupportInfo(SS_COMP, static_cast<BYTE>(std::min<std::size_t>(ports_.size(), 255)));
}

int PassThrough::PortOf(BYTE haId) const { return haId < ports_.size() ? ports_[haId] : -1; }

PassThrough::Entry* PassThrough::Find(int port, BYTE target, BYTE lun) {
    if (port < 0) return nullptr;
    std::lock_guard lock(tableLock_);
    for (auto& entry : entries_) {
        if (entry->valid && entry->port == port && entry->target == target && entry->lun == lun) return entry.get();
    }
    return nullptr;
}

int PassThrough::OpenDevice(Entry& entry) {
    if (entry.fd >= 0) return 0;
    int fd = ops_->Open(entry.path, true);
    if (fd < 0) fd = ops_->Open(entry.path, false);
    if (fd < 0) return fd;
    entry.fd = fd;
    return 0;
}

void PassThrough::CloseDevice(Entry& entry) {
    if (entry.fd >= 0) ops_->Close(entry.fd);
    entry.fd = -1;
}

void PassThrough::Refresh(Entry& entry) {
    bool valid = false;
    DeviceAddress address{entry.index, 0, 0};
    std::array<BYTE, 36> inquiry{};
    if (OpenDevice(entry) == 0) {
        const Cdb cdb = Inquiry(0);
        std::array<BYTE, 32> sense{};
        sg_io_hdr_t io{};
        io.interface_id = 'S';
        io.dxfer_direction = SG_DXFER_FROM_DEV;
        io.cmd_len = cdb.length;
        io.cmdp = const_cast<unsigned char*>(cdb.bytes.data());
        io.dxferp = inquiry.data();
        io.dxfer_len = inquiry.size();
        io.sbp = sense.data();
        io.mx_sb_len = sense.size();
        io.timeout = kTimeoutMs;
        const bool inquired = ops_->SgIo(entry.fd, &io) == 0 && (io.info & SG_INFO_OK_MASK) == SG_INFO_OK;
        const BYTE type = inquiry[0] & 0x1F;
        if (inquired && (type == DTYPE_CDROM || type == DTYPE_WORM)) {
            const int found = ops_->Address(entry.fd, &address);
            if (found != 0 && AddressUnknown(-found)) address = DeviceAddress{entry.index, 0, 0};
            valid = found == 0 || AddressUnknown(-found);
        }
    }
    CloseDevice(entry);
    std::lock_guard lock(tableLock_);
    entry.valid = valid;
    entry.port = address.host;
    entry.target = static_cast<BYTE>(address.target);
    entry.lun = static_cast<BYTE>(address.lun);
    if (valid) entry.inquiry = inquiry;
}

DWORD PassThrough::Send(void* block) {
    auto* header = static_cast<SRB_Header*>(block);
    BYTE status = SS_ERR;
    switch (header->SRB_Cmd) {
        case SC_HA_INQUIRY:
            status = HostAdapterInquiry(*static_cast<SRB_HAInquiry*>(block));
            break;
        case SC_GET_DEV_TYPE:
            status = DeviceType(*static_cast<SRB_GDEVBlock*>(block));
            break;
        case SC_EXEC_SCSI_CMD: {
            auto& srb = *static_cast<SRB_ExecSCSICmd*>(block);
            Entry* entry = Find(PortOf(srb.SRB_HaId), srb.SRB_Target, srb.SRB_Lun);
            if (entry) {
                std::lock_guard lock(entry->commandLock);
                status = Execute(*entry, srb, true);
            }
            SetSrbStatus(block, status);
            SignalCompletion(block);
            return status;
        }
        default:
            break;
    }
    SetSrbStatus(block, status);
    return status;
}

BYTE PassThrough::HostAdapterInquiry(SRB_HAInquiry& srb) const {
    srb.HA_Count = static_cast<BYTE>(std::min<std::size_t>(ports_.size(), 255));
    const int port = PortOf(srb.SRB_HaId);
    if (port < 0) return SS_INVALID_HA;
    srb.HA_SCSI_ID = 7;
    CopyText(srb.HA_ManagerId, sizeof srb.HA_ManagerId, kManagerId);
    CopyText(srb.HA_Identifier, sizeof srb.HA_Identifier, "SCSI Adapter " + std::to_string(port));
    std::memset(srb.HA_Unique, 0, sizeof srb.HA_Unique);
    srb.HA_Unique[3] = 8;
    const DWORD largestTransfer = 0x10000;
    std::memcpy(&srb.HA_Unique[4], &largestTransfer, sizeof largestTransfer);
    return SS_COMP;
}

BYTE PassThrough::DeviceType(SRB_GDEVBlock& srb) {
    if (Find(PortOf(srb.SRB_HaId), srb.SRB_Target, srb.SRB_Lun)) {
        srb.SRB_DeviceType = DTYPE_CDROM;
        return SS_COMP;
    }
    srb.SRB_DeviceType = DTYPE_UNKNOWN;
    return SS_NO_DEVICE;
}

BYTE PassThrough::Execute(Entry& entry, SRB_ExecSCSICmd& srb, bool mayRepeat) {
    if (srb.CDBByte[0] == OP_INQUIRY) {
        std::lock_guard lock(tableLock_);
        if (srb.SRB_BufPointer) {
            std::memcpy(srb.SRB_BufPointer, entry.inquiry.data(), std::min<std::size_t>(srb.SRB_BufLen, 36));
        }
        return SS_COMP;
    }
    if (srb.SRB_BufLen > 0 && !srb.SRB_BufPointer) return SS_ERR;

    int error = OpenDevice(entry);
    std::array<BYTE, 32> sense{};
    sg_io_hdr_t io{};
    if (error == 0) {
        io.interface_id = 'S';
        if (srb.SRB_BufLen == 0) {
            io.dxfer_direction = SG_DXFER_NONE;
        } else if (srb.SRB_Flags & SRB_DIR_IN) {
            io.dxfer_direction = SG_DXFER_FROM_DEV;
        } else if (srb.SRB_Flags & SRB_DIR_OUT) {
            io.dxfer_direction = SG_DXFER_TO_DEV;
        } else {
            io.dxfer_direction = SG_DXFER_TO_FROM_DEV;
        }
        io.cmd_len = std::clamp<BYTE>(srb.SRB_CDBLen, 6, 16);
        io.cmdp = srb.CDBByte;
        io.dxferp = srb.SRB_BufPointer;
        io.dxfer_len = srb.SRB_BufLen;
        io.sbp = sense.data();
        io.mx_sb_len = sense.size();
        io.timeout = kTimeoutMs;
        error = ops_->SgIo(entry.fd, &io);
    }
    const std::size_t senseLen = std::min<std::size_t>(srb.SRB_SenseLen, kSenseAreaSize);
    std::memcpy(srb.SenseArea, sense.data(), senseLen);
    srb.SRB_TargStat = error == 0 ? io.status : 0;
    srb.SRB_HaStat = error == 0 ? static_cast<BYTE>(io.host_status) : 0;

    bool repeat = false;
    if (error != 0) {
        srb.SRB_Hdr_Rsvd = static_cast<DWORD>(-error);
        repeat = IsStaleDescriptor(-error);
    } else if ((io.info & SG_INFO_OK_MASK) != SG_INFO_OK) {
        srb.SRB_Hdr_Rsvd = EIO;
        const auto decoded = ParseSense(std::span<const BYTE>(sense.data(), std::min<std::size_t>(io.sb_len_wr, sense.size())));
        repeat = decoded && decoded->IsUnitAttention();
    } else {
        return SS_COMP;
    }
    if (!repeat || !mayRepeat) return SS_ERR;
    CloseDevice(entry);
    Refresh(entry);
    {
        std::lock_guard lock(tableLock_);
        if (!entry.valid) return SS_ERR;
    }
    srb.SRB_Hdr_Rsvd = 0;
    return Execute(entry, srb, false);
}

}  // namespace kiv::scsi
