#include "components/cdrip/track_table.h"

#include "platform/scsi/cdb.h"

namespace kiv::cdrip {

TrackTable TrackTable::FromToc(const BYTE* toc) {
    TrackTable table;
    const int length = static_cast<int>(scsi::GetBE16(toc));
    int descriptors = (length - 2) / 8;
    // The answer cannot describe more than the buffer holds.
    const int room = static_cast<int>((kTocBufferSize - 4) / 8);
    if (descriptors > room) descriptors = room;
    if (descriptors > static_cast<int>(kMaxTocEntries)) descriptors = kMaxTocEntries;
    for (int i = 0; i < descriptors; ++i) {
        const BYTE* d = toc + 4 + i * 8;
        table.control[i] = d[1];
        table.number[i] = d[2];
        table.start[i] = static_cast<std::int32_t>(scsi::GetBE32(d + 4));
    }
    table.count = descriptors > 0 ? descriptors : 0;
    return table;
}

std::optional<TrackBounds> TrackTable::BoundsOf(int index) const {
    if (!HasTrack(index)) return std::nullopt;
    TrackBounds b;
    const BYTE wanted = static_cast<BYTE>(index + 1);
    for (int i = 0; i < count; ++i) {
        if (number[i] == wanted) {
            b.start = start[i];
            break;
        }
    }
    for (int k = 0; k < count; ++k) {
        if (number[k] != wanted && number[k] != scsi::kLeadOutTrack) continue;
        if (k + 1 >= count) break;
        b.end = start[k + 1];
        if (k >= 1 && control[k] != control[k + 1] && number[k + 1] != scsi::kLeadOutTrack)
            b.end = start[k + 1] - kSessionGap;
        break;
    }
    return b;
}

bool TrackTable::IsAudio(int index) const {
    return HasTrack(index) && number[index] != scsi::kLeadOutTrack && (control[index] & 0x04) == 0;
}

bool TrackTable::HasAudio() const {
    for (int i = 0; i < count - 1; ++i)
        if (IsAudio(i)) return true;
    return false;
}

}  // namespace kiv::cdrip
