#include "platform/scsi/scsi_transport.h"

#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/scsi/aspi_library.h"
#include "platform/scsi/completion_event.h"
#include "platform/scsi/pass_through.h"

namespace kiv::scsi {

std::string ScsiTransport::AspiLibraryName() {
    const char* name = std::getenv("KIV_ASPI_LIBRARY");
    return name && *name ? name : kDefaultAspiLibrary;
}

std::unique_ptr<ScsiTransport> ScsiTransport::Open(const std::string& aspiLibrary, std::string* error,
                                                   std::unique_ptr<SgDeviceOps> devices) {
    auto fail = [error](std::string why) -> std::unique_ptr<ScsiTransport> {
        if (error) *error = std::move(why);
        return nullptr;
    };
    AspiLibrary::LoadResult loaded = AspiLibrary::Load(aspiLibrary);
    if (loaded.library) return std::make_unique<ScsiTransport>(std::move(loaded.library));
    if (loaded.found) return fail(loaded.error);

    auto passThrough = std::make_unique<PassThrough>(devices ? std::move(devices) : MakeSystemSgDeviceOps());
    if (passThrough->ValidDriveCount() == 0) return fail("no ASPI library and no CD device");
    return std::make_unique<ScsiTransport>(std::move(passThrough));
}

ScsiTransport::ScsiTransport(std::unique_ptr<ScsiBackend> backend, std::chrono::milliseconds timeout)
    : backend_(std::move(backend)), timeout_(timeout) {}

DWORD ScsiTransport::SupportInfo() { return backend_->SupportInfo(); }

DWORD ScsiTransport::Send(void* srb) { return backend_->Send(srb); }

BYTE ScsiTransport::Probe(BYTE adapter, BYTE target, BYTE lun) {
    SRB_GDEVBlock srb{};
    srb.SRB_Cmd = SC_GET_DEV_TYPE;
    srb.SRB_HaId = adapter;
    srb.SRB_Target = target;
    srb.SRB_Lun = lun;
    srb.SRB_DeviceType = DTYPE_UNKNOWN;
    backend_->Send(&srb);
    const auto deadline = std::chrono::steady_clock::now() + timeout_;
    while (SrbStatus(&srb) == SS_PENDING && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    if (SrbStatus(&srb) == SS_PENDING) {
        // Left behind as pending: the back-end could still write to it, so
        // take it back before the block goes out of scope.
        SRB_Abort abort{};
        abort.SRB_Cmd = SC_ABORT_SRB;
        abort.SRB_HaId = adapter;
        abort.SRB_ToAbort = &srb;
        backend_->Send(&abort);
        return DTYPE_UNKNOWN;
    }
    return SrbStatus(&srb) == SS_COMP ? srb.SRB_DeviceType : DTYPE_UNKNOWN;
}

CommandResult ScsiTransport::Execute(const DriveAddress& drive, BYTE direction, const Cdb& cdb, void* buffer,
                                     DWORD length) {
    CommandResult result;
    std::optional<CompletionEvent> event = CompletionEvent::Create();
    if (!event) {
        result.status = SS_ABORTED;
        return result;
    }
    SRB_ExecSCSICmd srb{};
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_HaId = drive.adapter;
    srb.SRB_Target = drive.target;
    srb.SRB_Lun = drive.lun;
    srb.SRB_Flags = static_cast<BYTE>(direction | SRB_EVENT_NOTIFY);
    srb.SRB_SenseLen = SENSE_LEN;
    srb.SRB_CDBLen = cdb.length;
    srb.SRB_BufLen = buffer ? length : 0;
    srb.SRB_BufPointer = static_cast<BYTE*>(buffer);
    srb.SRB_PostProc = event->fd();
    std::memcpy(srb.CDBByte, cdb.bytes.data(), cdb.length);
    event->Reset();

    if (backend_->Send(&srb) == SS_PENDING) {
        if (!event->Wait(timeout_)) event->Reset();
        if (SrbStatus(&srb) == SS_PENDING) {
            SRB_Abort abort{};
            abort.SRB_Cmd = SC_ABORT_SRB;
            abort.SRB_HaId = drive.adapter;
            abort.SRB_ToAbort = &srb;
            backend_->Send(&abort);
            result.status = SS_ABORTED;
            return result;
        }
    }
    result.status = SrbStatus(&srb);
    result.targetStatus = srb.SRB_TargStat;
    result.systemError = srb.SRB_Hdr_Rsvd;
    std::memcpy(result.sense.data(), srb.SenseArea, result.sense.size());
    return result;
}

std::vector<DiscoveredDrive> ScsiTransport::Discover() {
    std::vector<DiscoveredDrive> drives;
    const DWORD info = SupportInfo();
    if (SupportStatus(info) != SS_COMP) return drives;
    const BYTE adapters = SupportAdapterCount(info);
    for (BYTE adapter = 0; adapter < adapters; ++adapter) {
        for (BYTE target = 0; target < 8; ++target) {
            for (BYTE lun = 0; lun < 8; ++lun) {
                const BYTE type = Probe(adapter, target, lun);
                if (type != DTYPE_CDROM && type != DTYPE_WORM) continue;
                DiscoveredDrive drive{{adapter, target, lun}, type, {}};
                std::array<BYTE, 36> data{};
                if (Execute(drive.address, SRB_DIR_IN, Inquiry(lun), data.data(), data.size()).ok()) {
                    const char* text = reinterpret_cast<const char*>(&data[8]);
                    drive.name.assign(text, strnlen(text, 24));
                }
                drives.push_back(std::move(drive));
            }
        }
    }
    return drives;
}

}  // namespace kiv::scsi
