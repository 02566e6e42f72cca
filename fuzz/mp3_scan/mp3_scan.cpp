// The MP3 stream scan a decoder makes on opening (tags, first frame,
// "Xing"/"Info" header, duration), then the later searches: the seek
// offset for a time, the next frame of the stream, and the searches after
// damage.
#include <cstdint>
#include <cstdlib>

#include "components/mp3/format/mp3_scan.h"
#include "fuzz/memory_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kiv::fuzz::MemoryFile file(data, size);
    const kiv::mp3::Mp3ScanResult result = kiv::mp3::scanMp3File(file.fd());
    if (!result.ok()) return 0;
    const kiv::mp3::Mp3StreamInfo& info = result.info;
    if (info.firstFrameOffset < 0 || info.firstFrameOffset >= info.fileSize) std::abort();
    for (std::int64_t ms : {std::int64_t(0), std::int64_t(1000), std::int64_t(3600000)}) {
        const std::int64_t offset = kiv::mp3::seekOffsetForTime(info, ms);
        if (offset < 0 || offset > info.audioBytes) std::abort();
        kiv::mp3::findStreamFrame(file.fd(), info.firstFrameOffset + offset, info.firstFrame);
    }
    // The searches a decoder makes after damage: where the stream goes on,
    // and whether frames of another format lie in the way.
    const std::int64_t from = info.firstFrameOffset + 1;
    if (auto at = kiv::mp3::resyncStreamFrame(file.fd(), from, info.fileSize, info.firstFrame))
        if (*at < from || *at >= info.fileSize) std::abort();
    kiv::mp3::findForeignFrameRun(file.fd(), info.firstFrameOffset, info.fileSize, info.firstFrame);
    return 0;
}
