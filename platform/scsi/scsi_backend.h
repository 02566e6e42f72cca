// What every back-end of the SCSI transport answers: the two entry points
// of the ASPI slot. Upper layers never see which back-end is in use.
#pragma once

#include "platform/com/types.h"

namespace kiv::scsi {

class ScsiBackend {
public:
    virtual ~ScsiBackend() = default;
    // Status in bits 8-15, adapter count in bits 0-7.
    virtual DWORD SupportInfo() = 0;
    // Executes one request block (see srb.h); returns its SRB_Status.
    virtual DWORD Send(void* srb) = 0;
};

}  // namespace kiv::scsi
