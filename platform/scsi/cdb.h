// Command descriptor blocks of the CD commands we send, and parsers for
// what the drive answers. Builders and parsers sit side by side so that the
// component and the virtual drive library read the wire format the same
// way; all multi-byte fields on the wire are big-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/com/types.h"
#include "platform/scsi/srb.h"

namespace kiv::scsi {

// Operation codes.
constexpr BYTE OP_TEST_UNIT_READY = 0x00;
constexpr BYTE OP_INQUIRY = 0x12;
constexpr BYTE OP_START_STOP_UNIT = 0x1B;
constexpr BYTE OP_READ_TOC = 0x43;
constexpr BYTE OP_SET_CD_SPEED = 0xBB;
constexpr BYTE OP_READ_CD = 0xBE;

// READ TOC formats.
constexpr BYTE TOC_FORMAT_TOC = 0;
constexpr BYTE TOC_FORMAT_SESSION_INFO = 1;
constexpr BYTE TOC_FORMAT_FULL_TOC = 2;

constexpr BYTE kLeadOutTrack = 0xAA;
constexpr std::size_t kFrameSize = 2352;
constexpr std::int32_t kFramesPerSecond = 75;
// Frames before LBA 0: MSF 00:02:00 is LBA 0.
constexpr std::int32_t kMsfOffset = 150;
// Gap between an audio session's lead-out and the next session's first
// track on a multi-session disc (lead-out 6750, lead-in 4500, pregap 150).
constexpr std::int32_t kSessionGapFrames = 11400;

// READ CD, byte 1 bits 2-4: expected sector type.
constexpr BYTE SECTOR_ANY = 0;
constexpr BYTE SECTOR_CDDA = 1;
constexpr BYTE SECTOR_MODE1 = 2;
// READ CD, byte 9: sync, all headers, user data, EDC/ECC = the whole frame.
constexpr BYTE READ_CD_FULL_FRAME = 0xF8;
constexpr BYTE READ_CD_USER_DATA = 0x10;

struct Cdb {
    std::array<BYTE, 16> bytes{};
    BYTE length = 0;

    std::span<const BYTE> view() const { return {bytes.data(), length}; }
};

Cdb TestUnitReady();
Cdb Inquiry(BYTE lun, BYTE allocation = 36);
// Opens the tray (eject) when `load` is false, closes it otherwise.
Cdb StartStopUnit(BYTE lun, bool load);
Cdb ReadToc(BYTE lun, BYTE format, BYTE startTrack, WORD allocation, bool msf = false);
Cdb ReadCd(BYTE lun, std::int32_t lba, std::uint32_t frames, BYTE sectorType = SECTOR_ANY,
           BYTE flags = READ_CD_FULL_FRAME);
// Speeds in kilobytes per second; 0xFFFF asks for the drive's fastest.
Cdb SetCdSpeed(BYTE lun, WORD readSpeed, WORD writeSpeed);

struct Msf {
    BYTE minute = 0;
    BYTE second = 0;
    BYTE frame = 0;
    bool operator==(const Msf&) const = default;
};
Msf LbaToMsf(std::int32_t lba);
std::int32_t MsfToLba(const Msf& msf);

struct InquiryData {
    BYTE deviceType = DTYPE_UNKNOWN;
    std::string vendor;    // 8 characters as sent, padding kept
    std::string product;   // 16 characters as sent
    std::string revision;  // 4 characters as sent
    // Vendor followed directly by product: the drive's display name.
    std::string Name() const { return vendor + product; }
};
// Needs the 36 bytes of standard INQUIRY data.
std::optional<InquiryData> ParseInquiry(std::span<const BYTE> data);

struct TocEntry {
    BYTE adrControl = 0;  // ADR high nibble, CONTROL low nibble
    BYTE track = 0;       // kLeadOutTrack for the lead-out
    std::int32_t lba = 0;
    bool IsData() const { return (adrControl & 0x04) != 0; }
    bool operator==(const TocEntry&) const = default;
};

struct Toc {
    BYTE firstTrack = 0;
    BYTE lastTrack = 0;
    std::vector<TocEntry> entries;  // descriptor order, lead-out last
};
// Format 0 answer in LBA form; the declared length is trusted only as far
// as the bytes given.
std::optional<Toc> ParseToc(std::span<const BYTE> data);

struct SessionInfo {
    BYTE firstSession = 0;
    BYTE lastSession = 0;
    BYTE firstTrackOfLastSession = 0;
    std::int32_t lastSessionStart = 0;
};
std::optional<SessionInfo> ParseSessionInfo(std::span<const BYTE> data);

// One descriptor of the full (raw) TOC; MSF fields are binary.
struct FullTocEntry {
    BYTE session = 0;
    BYTE adrControl = 0;
    BYTE point = 0;  // track number, or 0xA0 first track, 0xA1 last track, 0xA2 lead-out
    Msf pointMsf;
    bool operator==(const FullTocEntry&) const = default;
};
struct FullToc {
    BYTE firstSession = 0;
    BYTE lastSession = 0;
    std::vector<FullTocEntry> entries;
};
std::optional<FullToc> ParseFullToc(std::span<const BYTE> data);

inline void PutBE16(BYTE* p, std::uint32_t v) {
    p[0] = static_cast<BYTE>(v >> 8);
    p[1] = static_cast<BYTE>(v);
}
inline void PutBE32(BYTE* p, std::uint32_t v) {
    p[0] = static_cast<BYTE>(v >> 24);
    p[1] = static_cast<BYTE>(v >> 16);
    p[2] = static_cast<BYTE>(v >> 8);
    p[3] = static_cast<BYTE>(v);
}
inline std::uint32_t GetBE16(const BYTE* p) { return (std::uint32_t{p[0]} << 8) | p[1]; }
inline std::uint32_t GetBE32(const BYTE* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

}  // namespace kiv::scsi
