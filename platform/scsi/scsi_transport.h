// The SCSI transport of the CD component: one back-end (a library in the
// ASPI slot, or the pass-through over SG_IO) and the operations the layers
// above use: adapter count, device-type probe, command execution with
// time-out and abort, and drive discovery.
//
// The ASPI slot library is named by the environment variable
// KIV_ASPI_LIBRARY (a path, or a plain name searched the dlopen way); when
// it is unset, the plain name "wnaspi32.so" is tried. A library that loads
// is used even where pass-through would work; a library that loads without
// both entry points is an error, not a reason to fall back.
#pragma once

#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/scsi/cdb.h"
#include "platform/scsi/scsi_backend.h"
#include "platform/scsi/sg_device_ops.h"
#include "platform/scsi/srb.h"

namespace kiv::scsi {

struct DriveAddress {
    BYTE adapter = 0;
    BYTE target = 0;
    BYTE lun = 0;
};

struct DiscoveredDrive {
    DriveAddress address;
    BYTE deviceType = DTYPE_UNKNOWN;
    // Vendor and product identification, 24 characters as the drive sent
    // them (padding kept, nothing inserted); empty when INQUIRY failed.
    std::string name;
};

struct CommandResult {
    BYTE status = SS_ERR;
    BYTE targetStatus = 0;
    DWORD systemError = 0;  // errno left by the back-end, if any
    std::array<BYTE, kSenseAreaSize> sense{};
    bool ok() const { return status == SS_COMP; }
};

class ScsiTransport {
public:
    static constexpr char kDefaultAspiLibrary[] = "wnaspi32.so";
    static constexpr std::chrono::milliseconds kCommandTimeout{10000};

    // KIV_ASPI_LIBRARY, or kDefaultAspiLibrary.
    static std::string AspiLibraryName();

    // Chooses the back-end: the ASPI library when it loads, else the
    // pass-through when it finds at least one drive. Nothing when neither
    // is usable; `error` then says why. `devices` replaces the system calls
    // of the pass-through (tests).
    static std::unique_ptr<ScsiTransport> Open(const std::string& aspiLibrary, std::string* error = nullptr,
                                               std::unique_ptr<SgDeviceOps> devices = nullptr);

    explicit ScsiTransport(std::unique_ptr<ScsiBackend> backend,
                           std::chrono::milliseconds timeout = kCommandTimeout);

    DWORD SupportInfo();
    DWORD Send(void* srb);
    // Device type at an address, DTYPE_UNKNOWN when nothing answers.
    BYTE Probe(BYTE adapter, BYTE target, BYTE lun);
    // Runs one command and waits for it; a command still pending after the
    // time-out is aborted and reported as SS_ABORTED, as is a command for
    // which no completion event could be made.
    CommandResult Execute(const DriveAddress& drive, BYTE direction, const Cdb& cdb, void* buffer,
                          DWORD length);
    // Every CD-ROM or write-once device of every adapter, in address order.
    // Nothing when the back-end reports no adapters.
    std::vector<DiscoveredDrive> Discover();

private:
    std::unique_ptr<ScsiBackend> backend_;
    std::chrono::milliseconds timeout_;
};

}  // namespace kiv::scsi
