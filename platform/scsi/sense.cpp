#include "platform/scsi/sense.h"

#include <algorithm>
#include <cstdio>

#include "platform/scsi/cdb.h"

namespace kiv::scsi {

namespace {

const char* KeyName(BYTE key) {
    static constexpr const char* kNames[16] = {
        "NO SENSE",  "RECOVERED ERROR", "NOT READY",       "MEDIUM ERROR",   "HARDWARE ERROR", "ILLEGAL REQUEST",
        "UNIT ATTENTION", "DATA PROTECT", "BLANK CHECK",   "VENDOR SPECIFIC", "COPY ABORTED",  "ABORTED COMMAND",
        "EQUAL",     "VOLUME OVERFLOW", "MISCOMPARE",      "COMPLETED"};
    return kNames[key & 0x0F];
}

std::optional<SenseData> ParseFixed(std::span<const BYTE> bytes) {
    if (bytes.size() < 3) return std::nullopt;
    SenseData sense;
    sense.key = bytes[2] & 0x0F;
    if (bytes.size() >= 7) {
        sense.infoValid = (bytes[0] & 0x80) != 0;
        sense.info = GetBE32(&bytes[3]);
    }
    // The additional length says how far the drive filled the buffer; a
    // shorter answer leaves ASC/ASCQ undefined, so they stay zero.
    const std::size_t filled = bytes.size() >= 8 ? 8u + bytes[7] : bytes.size();
    if (bytes.size() > 12 && filled > 12) sense.asc = bytes[12];
    if (bytes.size() > 13 && filled > 13) sense.ascq = bytes[13];
    return sense;
}

std::optional<SenseData> ParseDescriptor(std::span<const BYTE> bytes) {
    if (bytes.size() < 4) return std::nullopt;
    SenseData sense;
    sense.key = bytes[1] & 0x0F;
    sense.asc = bytes[2];
    sense.ascq = bytes[3];
    // Information descriptor (type 0), if the caller kept enough bytes.
    std::size_t at = 8;
    const std::size_t end = std::min<std::size_t>(bytes.size(), bytes.size() >= 8 ? 8u + bytes[7] : 0u);
    while (at + 2 <= end) {
        const std::size_t length = 2u + bytes[at + 1];
        if (bytes[at] == 0x00 && at + 12 <= end) {
            sense.infoValid = (bytes[at + 2] & 0x80) != 0;
            sense.info = GetBE32(&bytes[at + 8]);  // low half of the 64-bit field
            break;
        }
        at += length;
    }
    return sense;
}

}  // namespace

std::string SenseData::Describe() const {
    char text[64];
    std::snprintf(text, sizeof text, "%s (%02X/%02X)", KeyName(key), asc, ascq);
    return text;
}

std::optional<SenseData> ParseSense(std::span<const BYTE> bytes) {
    if (bytes.empty()) return std::nullopt;
    switch (bytes[0] & 0x7F) {
        case 0x70:
        case 0x71:
            return ParseFixed(bytes);
        case 0x72:
        case 0x73:
            return ParseDescriptor(bytes);
        default:
            return std::nullopt;
    }
}

std::array<BYTE, 18> MakeFixedSense(const SenseData& sense) {
    std::array<BYTE, 18> bytes{};
    bytes[0] = static_cast<BYTE>(0x70 | (sense.infoValid ? 0x80 : 0x00));
    bytes[2] = sense.key & 0x0F;
    PutBE32(&bytes[3], sense.info);
    bytes[7] = 10;
    bytes[12] = sense.asc;
    bytes[13] = sense.ascq;
    return bytes;
}

}  // namespace kiv::scsi
