#include "platform/scsi/cdb.h"

#include <algorithm>

namespace kiv::scsi {

namespace {

Cdb Make(std::initializer_list<BYTE> bytes) {
    Cdb cdb;
    std::copy(bytes.begin(), bytes.end(), cdb.bytes.begin());
    cdb.length = static_cast<BYTE>(bytes.size());
    return cdb;
}

BYTE LunBits(BYTE lun) { return static_cast<BYTE>((lun & 0x07) << 5); }

std::string Text(std::span<const BYTE> data, std::size_t offset, std::size_t length) {
    return std::string(reinterpret_cast<const char*>(data.data()) + offset, length);
}

// The length field counts the bytes after itself; a drive may claim more
// than it sent (allocation length too small) or send padding after it.
std::size_t UsableLength(std::span<const BYTE> data) {
    if (data.size() < 4) return 0;
    return std::min<std::size_t>(data.size(), GetBE16(data.data()) + 2);
}

}  // namespace

Cdb TestUnitReady() { return Make({OP_TEST_UNIT_READY, 0, 0, 0, 0, 0}); }

Cdb Inquiry(BYTE lun, BYTE allocation) { return Make({OP_INQUIRY, LunBits(lun), 0, 0, allocation, 0}); }

Cdb StartStopUnit(BYTE lun, bool load) {
    return Make({OP_START_STOP_UNIT, LunBits(lun), 0, 0, static_cast<BYTE>(load ? 0x03 : 0x02), 0});
}

Cdb ReadToc(BYTE lun, BYTE format, BYTE startTrack, WORD allocation, bool msf) {
    Cdb cdb = Make({OP_READ_TOC, static_cast<BYTE>(LunBits(lun) | (msf ? 0x02 : 0x00)),
                    static_cast<BYTE>(format & 0x0F), 0, 0, 0, startTrack, 0, 0, 0});
    PutBE16(&cdb.bytes[7], allocation);
    return cdb;
}

Cdb ReadCd(BYTE lun, std::int32_t lba, std::uint32_t frames, BYTE sectorType, BYTE flags) {
    Cdb cdb = Make({OP_READ_CD, static_cast<BYTE>(LunBits(lun) | ((sectorType & 0x07) << 2)), 0, 0, 0, 0, 0, 0,
                    0, flags, 0, 0});
    PutBE32(&cdb.bytes[2], static_cast<std::uint32_t>(lba));
    cdb.bytes[6] = static_cast<BYTE>(frames >> 16);
    PutBE16(&cdb.bytes[7], frames & 0xFFFF);
    return cdb;
}

Cdb SetCdSpeed(BYTE lun, WORD readSpeed, WORD writeSpeed) {
    Cdb cdb = Make({OP_SET_CD_SPEED, LunBits(lun), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    PutBE16(&cdb.bytes[2], readSpeed);
    PutBE16(&cdb.bytes[4], writeSpeed);
    return cdb;
}

Msf LbaToMsf(std::int32_t lba) {
    const std::int32_t absolute = std::max(0, lba + kMsfOffset);
    return Msf{static_cast<BYTE>(absolute / (60 * kFramesPerSecond)),
               static_cast<BYTE>(absolute / kFramesPerSecond % 60), static_cast<BYTE>(absolute % kFramesPerSecond)};
}

std::int32_t MsfToLba(const Msf& msf) {
    return (msf.minute * 60 + msf.second) * kFramesPerSecond + msf.frame - kMsfOffset;
}

std::optional<InquiryData> ParseInquiry(std::span<const BYTE> data) {
    if (data.size() < 36) return std::nullopt;
    InquiryData inquiry;
    inquiry.deviceType = data[0] & 0x1F;
    inquiry.vendor = Text(data, 8, 8);
    inquiry.product = Text(data, 16, 16);
    inquiry.revision = Text(data, 32, 4);
    return inquiry;
}

std::optional<Toc> ParseToc(std::span<const BYTE> data) {
    const std::size_t length = UsableLength(data);
    if (length < 4) return std::nullopt;
    Toc toc;
    toc.firstTrack = data[2];
    toc.lastTrack = data[3];
    for (std::size_t at = 4; at + 8 <= length; at += 8) {
        toc.entries.push_back(
            TocEntry{data[at + 1], data[at + 2], static_cast<std::int32_t>(GetBE32(&data[at + 4]))});
    }
    return toc;
}

std::optional<SessionInfo> ParseSessionInfo(std::span<const BYTE> data) {
    if (UsableLength(data) < 12) return std::nullopt;
    return SessionInfo{data[2], data[3], data[6], static_cast<std::int32_t>(GetBE32(&data[8]))};
}

std::optional<FullToc> ParseFullToc(std::span<const BYTE> data) {
    const std::size_t length = UsableLength(data);
    if (length < 4) return std::nullopt;
    FullToc toc;
    toc.firstSession = data[2];
    toc.lastSession = data[3];
    for (std::size_t at = 4; at + 11 <= length; at += 11) {
        toc.entries.push_back(
            FullTocEntry{data[at], data[at + 1], data[at + 3], Msf{data[at + 8], data[at + 9], data[at + 10]}});
    }
    return toc;
}

}  // namespace kiv::scsi
