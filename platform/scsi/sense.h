// Sense data: why a drive refused a command.
//
// Drives answer in fixed format (0x70/0x71) or, rarely for CD drives,
// descriptor format (0x72/0x73); both decode into one record. Only the
// first 14 bytes are requested by the component (up to ASCQ), so nothing
// here needs more than that.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/com/types.h"

namespace kiv::scsi {

// Sense keys.
constexpr BYTE SENSE_NO_SENSE = 0x0;
constexpr BYTE SENSE_NOT_READY = 0x2;
constexpr BYTE SENSE_MEDIUM_ERROR = 0x3;
constexpr BYTE SENSE_HARDWARE_ERROR = 0x4;
constexpr BYTE SENSE_ILLEGAL_REQUEST = 0x5;
constexpr BYTE SENSE_UNIT_ATTENTION = 0x6;

// Additional sense codes we produce or act upon.
constexpr BYTE ASC_UNRECOVERED_READ_ERROR = 0x11;
constexpr BYTE ASC_INVALID_OPCODE = 0x20;
constexpr BYTE ASC_LBA_OUT_OF_RANGE = 0x21;
constexpr BYTE ASC_INVALID_FIELD_IN_CDB = 0x24;
constexpr BYTE ASC_MEDIUM_MAY_HAVE_CHANGED = 0x28;
constexpr BYTE ASC_POWER_ON_RESET = 0x29;
constexpr BYTE ASC_MEDIUM_NOT_PRESENT = 0x3A;
constexpr BYTE ASC_ILLEGAL_MODE_FOR_TRACK = 0x64;

struct SenseData {
    BYTE key = SENSE_NO_SENSE;
    BYTE asc = 0;
    BYTE ascq = 0;
    bool infoValid = false;
    std::uint32_t info = 0;  // usually the failing LBA

    bool IsUnitAttention() const { return key == SENSE_UNIT_ATTENTION; }
    bool IsMediumNotPresent() const { return key == SENSE_NOT_READY && asc == ASC_MEDIUM_NOT_PRESENT; }
    // "MEDIUM ERROR (11/00)": for logs and test failure messages.
    std::string Describe() const;
};

// Nothing when the bytes carry no recognisable sense (wrong response code,
// too short to hold the key).
std::optional<SenseData> ParseSense(std::span<const BYTE> bytes);

// Fixed-format sense of 18 bytes, as a drive would return it.
std::array<BYTE, 18> MakeFixedSense(const SenseData& sense);

}  // namespace kiv::scsi
