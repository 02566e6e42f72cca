#include "runtime/vcdrive/virtual_drive.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/scsi/cdb.h"
#include "platform/scsi/completion_event.h"

namespace kiv::vcd {

using namespace kiv::scsi;

namespace {

// Drives that can read into the lead-out area answer this far past it
// (the whole lead-out of a single-session disc is 6750 frames).
constexpr std::int32_t kReadableLeadOut = 6750;

void PutPadded(std::vector<std::uint8_t>& data, std::size_t at, std::size_t width, const std::string& text) {
    for (std::size_t i = 0; i < width; ++i) data[at + i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : ' ';
}

void PutAddress(std::uint8_t* at, std::int32_t lba, bool msf) {
    if (msf) {
        const Msf time = LbaToMsf(lba);
        at[0] = 0;
        at[1] = time.minute;
        at[2] = time.second;
        at[3] = time.frame;
    } else {
        PutBE32(at, static_cast<std::uint32_t>(lba));
    }
}

// Bytes of one data frame that READ CD flags (byte 9) select.
std::vector<std::pair<std::size_t, std::size_t>> DataFields(BYTE flags) {
    std::vector<std::pair<std::size_t, std::size_t>> fields;
    if (flags & 0x80) fields.emplace_back(0, 12);
    if (flags & 0x20) fields.emplace_back(12, 4);  // header; mode 1 has no sub-header
    if (flags & 0x10) fields.emplace_back(16, 2048);
    if (flags & 0x08) fields.emplace_back(2064, 288);
    return fields;
}

}  // namespace

VirtualDrive::VirtualDrive(DriveSetup setup, std::vector<DiscImage> discs)
    : setup_(std::move(setup)), discs_(std::move(discs)), random_(setup_.seed) {
    trayOpen_ = discs_.front().TrayOpen();
}

void VirtualDrive::SignalMediaChange() {
    std::lock_guard lock(lock_);
    unitAttention_ = true;
}

VirtualDrive::Answer VirtualDrive::Fail(BYTE key, BYTE asc, BYTE ascq, std::optional<std::int32_t> lba) {
    Answer answer;
    answer.good = false;
    answer.sense = SenseData{key, asc, ascq, lba.has_value(), static_cast<std::uint32_t>(lba.value_or(0))};
    return answer;
}

BYTE VirtualDrive::Execute(SRB_ExecSCSICmd& srb) {
    std::lock_guard lock(lock_);
    if (srb.SRB_BufLen > 0 && !srb.SRB_BufPointer) {
        srb.SRB_Hdr_Rsvd = EINVAL;
        return SS_ERR;
    }
    const std::size_t cdbLength = std::clamp<std::size_t>(srb.SRB_CDBLen, 1, sizeof srb.CDBByte);
    const Answer answer = Run(std::span<const std::uint8_t>(srb.CDBByte, cdbLength));
    std::memset(srb.SenseArea, 0, sizeof srb.SenseArea);
    if (!answer.good) {
        const auto sense = MakeFixedSense(answer.sense);
        std::memcpy(srb.SenseArea, sense.data(), std::min<std::size_t>({srb.SRB_SenseLen, sizeof srb.SenseArea, sense.size()}));
        srb.SRB_TargStat = STATUS_CHKCOND;
        srb.SRB_Hdr_Rsvd = EIO;
        return SS_ERR;
    }
    const std::size_t length = std::min<std::size_t>(srb.SRB_BufLen, answer.data.size());
    if (length > 0) std::memcpy(srb.SRB_BufPointer, answer.data.data(), length);
    srb.SRB_TargStat = STATUS_GOOD;
    return SS_COMP;
}

VirtualDrive::Answer VirtualDrive::Run(std::span<const std::uint8_t> cdb) {
    ++commands_;
    if (setup_.changeAfter > 0 && !changed_ && commands_ > setup_.changeAfter) {
        changed_ = true;
        discIndex_ = (discIndex_ + 1) % discs_.size();
        trayOpen_ = Disc().TrayOpen();
        readsOfBadFrames_.clear();
        unitAttention_ = true;
    }
    // INQUIRY is the one command a pending unit attention does not spoil.
    if (cdb[0] == OP_INQUIRY) return Inquiry();
    if (unitAttention_) {
        unitAttention_ = false;
        return Fail(SENSE_UNIT_ATTENTION, ASC_MEDIUM_MAY_HAVE_CHANGED);
    }
    switch (cdb[0]) {
        case OP_TEST_UNIT_READY:
            return Disc().HasMedium() && !trayOpen_ ? Answer{} : NotReady();
        case OP_READ_TOC:
            if (cdb.size() < 10) return Fail(SENSE_ILLEGAL_REQUEST, ASC_INVALID_FIELD_IN_CDB);
            return ReadToc(cdb);
        case OP_READ_CD:
            if (cdb.size() < 12) return Fail(SENSE_ILLEGAL_REQUEST, ASC_INVALID_FIELD_IN_CDB);
            if (setup_.slowMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(setup_.slowMs));
            return ReadCd(cdb);
        case OP_START_STOP_UNIT:
            if (cdb.size() < 6) return Fail(SENSE_ILLEGAL_REQUEST, ASC_INVALID_FIELD_IN_CDB);
            return StartStop(cdb);
        case OP_SET_CD_SPEED:
            return Answer{};
        default:
            return Fail(SENSE_ILLEGAL_REQUEST, ASC_INVALID_OPCODE);
    }
}

VirtualDrive::Answer VirtualDrive::Inquiry() const {
    Answer answer;
    answer.data.assign(36, 0);
    answer.data[0] = setup_.deviceType;
    answer.data[1] = 0x80;  // removable medium
    answer.data[2] = 0x05;
    answer.data[3] = 0x02;
    answer.data[4] = 31;
    PutPadded(answer.data, 8, 8, setup_.vendor);
    PutPadded(answer.data, 16, 16, setup_.product);
    PutPadded(answer.data, 32, 4, setup_.revision);
    return answer;
}

VirtualDrive::Answer VirtualDrive::NotReady() const {
    return Fail(SENSE_NOT_READY, ASC_MEDIUM_NOT_PRESENT, trayOpen_ ? 0x02 : 0x01);
}

VirtualDrive::Answer VirtualDrive::ReadToc(std::span<const std::uint8_t> cdb) const {
    if (trayOpen_ || !Disc().HasMedium()) return NotReady();
    const bool msf = (cdb[1] & 0x02) != 0;
    BYTE format = cdb[2] & 0x0F;
    if (format == 0) format = static_cast<BYTE>(cdb[9] >> 6);  // older drives put it here
    const BYTE startTrack = cdb[6];
    const std::uint32_t allocation = GetBE16(&cdb[7]);
    const auto& tracks = Disc().Tracks();

    Answer answer;
    std::vector<std::uint8_t>& data = answer.data;
    data.assign(4, 0);
    auto descriptor = [&](BYTE control, BYTE number, std::int32_t lba) {
        const std::size_t at = data.size();
        data.resize(at + 8, 0);
        data[at + 1] = static_cast<std::uint8_t>(0x10 | control);
        data[at + 2] = number;
        PutAddress(&data[at + 4], lba, msf);
    };
    switch (format) {
        case TOC_FORMAT_TOC: {
            data[2] = tracks.front().number;
            data[3] = tracks.back().number;
            if (startTrack > tracks.back().number && startTrack != kLeadOutTrack) {
                return Fail(SENSE_ILLEGAL_REQUEST, ASC_INVALID_FIELD_IN_CDB);
            }
            for (const auto& track : tracks) {
                if (track.number >= startTrack) descriptor(track.Control(), track.number, track.start);
            }
            descriptor(tracks.back().Control(), kLeadOutTrack, Disc().LeadOut());
            break;
        }
        case TOC_FORMAT_SESSION_INFO: {
            data[2] = 1;
            data[3] = Disc().SessionCount();
            const auto first = std::find_if(tracks.begin(), tracks.end(),
                                            [&](const auto& track) { return track.session == Disc().SessionCount(); });
            descriptor(first->Control(), first->number, first->start);
            break;
        }
        case TOC_FORMAT_FULL_TOC: {
            data[2] = 1;
            data[3] = Disc().SessionCount();
            auto entry = [&](BYTE session, BYTE control, BYTE point, Msf time) {
                const std::size_t at = data.size();
                data.resize(at + 11, 0);
                data[at] = session;
                data[at + 1] = static_cast<std::uint8_t>(0x10 | control);
                data[at + 3] = point;
                data[at + 8] = time.minute;
                data[at + 9] = time.second;
                data[at + 10] = time.frame;
            };
            for (BYTE session = 1; session <= Disc().SessionCount(); ++session) {
                std::vector<DiscImage::Track> inSession;
                std::copy_if(tracks.begin(), tracks.end(), std::back_inserter(inSession),
                             [&](const auto& track) { return track.session == session; });
                const BYTE discType = Disc().SessionCount() > 1 ? 0x20 : 0x00;
                entry(session, inSession.front().Control(), 0xA0, Msf{inSession.front().number, discType, 0});
                entry(session, inSession.back().Control(), 0xA1, Msf{inSession.back().number, 0, 0});
                entry(session, inSession.back().Control(), 0xA2,
                      LbaToMsf(Disc().SessionLeadOuts()[session - 1]));
                for (const auto& track : inSession) entry(session, track.Control(), track.number, LbaToMsf(track.start));
            }
            break;
        }
        default:
            return Fail(SENSE_ILLEGAL_REQUEST, ASC_INVALID_FIELD_IN_CDB);
    }
    PutBE16(data.data(), static_cast<std::uint32_t>(data.size() - 2));
    if (data.size() > allocation) data.resize(allocation);
    return answer;
}

VirtualDrive::Answer VirtualDrive::ReadCd(std::span<const std::uint8_t> cdb) {
    if (trayOpen_ || !Disc().HasMedium()) return NotReady();
    const BYTE expected = (cdb[1] >> 2) & 0x07;
    const auto lba = static_cast<std::int32_t>(GetBE32(&cdb[2]));
    const auto count = static_cast<std::int32_t>((std::uint32_t{cdb[6]} << 16) | GetBE16(&cdb[7]));
    const BYTE flags = cdb[9];
    if ((cdb[10] & 0x07) != 0) return Fail(SENSE_ILLEGAL_REQUEST, ASC_INVALID_FIELD_IN_CDB);  // no sub-channel
    if (lba < -kMsfOffset || lba + static_cast<std::int64_t>(count) > Disc().LeadOut() + kReadableLeadOut) {
        return Fail(SENSE_ILLEGAL_REQUEST, ASC_LBA_OUT_OF_RANGE, 0, lba);
    }
    bool allAudio = true;
    for (std::int32_t i = 0; i < count; ++i) {
        const bool data = Disc().IsData(lba + i);
        allAudio = allAudio && !data;
        if ((expected == SECTOR_CDDA && data) || (expected >= SECTOR_MODE1 && !data)) {
            return Fail(SENSE_ILLEGAL_REQUEST, ASC_ILLEGAL_MODE_FOR_TRACK, 0, lba + i);
        }
    }
    std::int32_t failing = 0;
    if (FailsRead(lba, count, &failing)) return Fail(SENSE_MEDIUM_ERROR, ASC_UNRECOVERED_READ_ERROR, 0, failing);

    Answer answer;
    std::vector<std::uint8_t>& out = answer.data;
    if (count == 0 || (flags & 0xF8) == 0) return answer;
    if (allAudio && (setup_.jitterSamples > 0 || setup_.offsetSamples != 0)) {
        // The drive lands a little off: the whole block moves by whole
        // stereo samples, reaching into the neighbouring frames. A drive
        // with a read offset is off by the same amount every time.
        std::uniform_int_distribution<int> shift(-setup_.jitterSamples, setup_.jitterSamples);
        const int jitter = setup_.jitterSamples > 0 ? shift(random_) : 0;
        const long offset = static_cast<long>(jitter - setup_.offsetSamples) * 4;
        const int reach = setup_.jitterSamples + std::abs(setup_.offsetSamples);
        const std::int32_t before = static_cast<std::int32_t>((reach * 4 + kFrameSize - 1) / kFrameSize);
        std::vector<std::uint8_t> span(static_cast<std::size_t>(count + 2 * before) * kFrameSize);
        for (std::int32_t i = 0; i < count + 2 * before; ++i) Disc().ReadFrame(lba - before + i, &span[i * kFrameSize]);
        const auto from = span.begin() + static_cast<long>(before) * static_cast<long>(kFrameSize) + offset;
        out.assign(from, from + static_cast<long>(count) * static_cast<long>(kFrameSize));
        return answer;
    }
    std::uint8_t frame[kFrameSize];
    for (std::int32_t i = 0; i < count; ++i) {
        Disc().ReadFrame(lba + i, frame);
        if (!Disc().IsData(lba + i)) {
            out.insert(out.end(), frame, frame + kFrameSize);
            continue;
        }
        for (const auto& [at, size] : DataFields(flags)) out.insert(out.end(), frame + at, frame + at + size);
    }
    return answer;
}

bool VirtualDrive::FailsRead(std::int32_t first, std::int32_t count, std::int32_t* failing) {
    bool fails = false;
    for (const UnreadableRange& range : setup_.unreadable) {
        const std::int32_t from = std::max(first, range.first);
        const std::int32_t to = std::min(first + count - 1, range.last);
        for (std::int32_t frame = from; frame <= to; ++frame) {
            const int reads = ++readsOfBadFrames_[frame];
            if (range.always || reads <= range.failures) {
                if (!fails || frame < *failing) *failing = frame;
                fails = true;
            }
        }
    }
    return fails;
}

VirtualDrive::Answer VirtualDrive::StartStop(std::span<const std::uint8_t> cdb) {
    const bool loadEject = (cdb[4] & 0x02) != 0;
    const bool start = (cdb[4] & 0x01) != 0;
    if (!loadEject) return Answer{};
    if (!start) {
        trayOpen_ = true;
    } else if (trayOpen_) {
        trayOpen_ = false;
        // Closing the tray on a disc is a new medium for the host.
        if (Disc().HasMedium()) unitAttention_ = true;
    }
    return Answer{};
}

}  // namespace kiv::vcd
