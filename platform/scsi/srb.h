// SCSI request blocks: the one vocabulary of every CD command.
//
// The CD component, the pass-through back-end and any library plugged into
// the ASPI slot (our virtual drive library among them) exchange these
// blocks. Field names, command codes, status codes and flags follow the
// classic ASPI request blocks so the command logic above reads the same;
// the byte layout is our own, because a 64-bit process cannot use the
// 32-bit pointer fields of the original. Offsets are pinned below: a
// library built against this header must agree with the component to the
// byte, since the two meet only through a `void*`.
//
// Completion. A caller that sets SRB_EVENT_NOTIFY puts an eventfd
// descriptor into SRB_PostProc. A back-end stores the final SRB_Status
// first and then adds 1 to that eventfd, whether it completed at once or
// later on a thread of its own. A back-end that finishes inside the send
// call returns the final status directly; one that returns SS_PENDING must
// signal the eventfd when it is done, and after an abort request it must no
// longer touch the block or its buffer. The back-ends of this project all
// complete synchronously; the command runner still handles SS_PENDING so a
// slower library can be plugged in.
//
// Status byte. A back-end working on another thread writes SRB_Status
// while the caller may poll it, so both sides go through SrbStatus() and
// SetSrbStatus(), which use atomic accesses.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/com/types.h"

namespace kiv::scsi {

// SRB_Cmd
constexpr BYTE SC_HA_INQUIRY = 0x00;
constexpr BYTE SC_GET_DEV_TYPE = 0x01;
constexpr BYTE SC_EXEC_SCSI_CMD = 0x02;
constexpr BYTE SC_ABORT_SRB = 0x03;

// SRB_Status
constexpr BYTE SS_PENDING = 0x00;
constexpr BYTE SS_COMP = 0x01;
constexpr BYTE SS_ABORTED = 0x02;
constexpr BYTE SS_ABORT_FAIL = 0x03;
constexpr BYTE SS_ERR = 0x04;
constexpr BYTE SS_INVALID_CMD = 0x80;
constexpr BYTE SS_INVALID_HA = 0x81;
constexpr BYTE SS_NO_DEVICE = 0x82;
constexpr BYTE SS_INVALID_SRB = 0xE0;
constexpr BYTE SS_NO_ADAPTERS = 0xE8;

// SRB_Flags
constexpr BYTE SRB_DIR_IN = 0x08;
constexpr BYTE SRB_DIR_OUT = 0x10;
constexpr BYTE SRB_EVENT_NOTIFY = 0x40;

// SRB_DeviceType (peripheral device types of INQUIRY)
constexpr BYTE DTYPE_WORM = 0x04;
constexpr BYTE DTYPE_CDROM = 0x05;
constexpr BYTE DTYPE_UNKNOWN = 0x1F;

// SRB_TargStat
constexpr BYTE STATUS_GOOD = 0x00;
constexpr BYTE STATUS_CHKCOND = 0x02;

// Sense bytes the component asks for, and room for them in the block.
constexpr BYTE SENSE_LEN = 14;
constexpr std::size_t kSenseAreaSize = SENSE_LEN + 2;

struct SRB_Header {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;  // back-ends leave the system error code here on failure
};

struct SRB_HAInquiry {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
    BYTE HA_Count;
    BYTE HA_SCSI_ID;
    BYTE HA_ManagerId[16];
    BYTE HA_Identifier[16];
    BYTE HA_Unique[16];  // byte 3: targets per adapter; bytes 4-7: largest transfer
    WORD HA_Rsvd1;
};

struct SRB_GDEVBlock {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
    BYTE SRB_Target;
    BYTE SRB_Lun;
    BYTE SRB_DeviceType;
    BYTE SRB_Rsvd1;
};

struct SRB_ExecSCSICmd {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
    BYTE SRB_Target;
    BYTE SRB_Lun;
    WORD SRB_Rsvd1;
    DWORD SRB_BufLen;
    BYTE* SRB_BufPointer;
    BYTE SRB_SenseLen;
    BYTE SRB_CDBLen;
    BYTE SRB_HaStat;
    BYTE SRB_TargStat;  // SCSI status byte of the device
    DWORD SRB_Rsvd3;
    std::intptr_t SRB_PostProc;  // eventfd descriptor when SRB_EVENT_NOTIFY is set
    BYTE SRB_Rsvd2[8];
    BYTE CDBByte[16];
    BYTE SenseArea[kSenseAreaSize];
};

struct SRB_Abort {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
    void* SRB_ToAbort;
};

static_assert(sizeof(SRB_Header) == 8);
static_assert(sizeof(SRB_HAInquiry) == 60);
static_assert(offsetof(SRB_HAInquiry, HA_Unique) == 42);
static_assert(sizeof(SRB_GDEVBlock) == 12);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufLen) == 12);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufPointer) == 16);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_SenseLen) == 24);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_PostProc) == 32);
static_assert(offsetof(SRB_ExecSCSICmd, CDBByte) == 48);
static_assert(offsetof(SRB_ExecSCSICmd, SenseArea) == 64);
static_assert(sizeof(SRB_ExecSCSICmd) == 80);
static_assert(offsetof(SRB_Abort, SRB_ToAbort) == 8);

inline BYTE SrbStatus(const void* srb) {
    return __atomic_load_n(&static_cast<const SRB_Header*>(srb)->SRB_Status, __ATOMIC_ACQUIRE);
}

inline void SetSrbStatus(void* srb, BYTE status) {
    __atomic_store_n(&static_cast<SRB_Header*>(srb)->SRB_Status, status, __ATOMIC_RELEASE);
}

// Entry points of a library in the ASPI slot, resolved by these names.
using GetASPI32SupportInfoFn = DWORD (*)();
using SendASPI32CommandFn = DWORD (*)(void* srb);
inline constexpr char kGetSupportInfoName[] = "GetASPI32SupportInfo";
inline constexpr char kSendCommandName[] = "SendASPI32Command";

// GetASPI32SupportInfo: status in bits 8-15, adapter count in bits 0-7.
constexpr DWORD MakeSupportInfo(BYTE status, BYTE adapters) {
    return (static_cast<DWORD>(status) << 8) | adapters;
}
constexpr BYTE SupportStatus(DWORD info) { return static_cast<BYTE>((info >> 8) & 0xFF); }
constexpr BYTE SupportAdapterCount(DWORD info) { return static_cast<BYTE>(info & 0xFF); }

}  // namespace kiv::scsi
