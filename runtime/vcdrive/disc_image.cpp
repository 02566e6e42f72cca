#include "runtime/vcdrive/disc_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/scsi/cdb.h"
#include "runtime/vcdrive/cue_sheet.h"

namespace kiv::vcd {

using scsi::kFrameSize;

struct DiscImage::SourceFile {
    explicit SourceFile(int descriptor) : fd(descriptor) {}
    SourceFile(const SourceFile&) = delete;
    SourceFile& operator=(const SourceFile&) = delete;
    ~SourceFile() { ::close(fd); }
    int fd;
};

namespace {

constexpr std::int32_t kModeChangeGap = 150;

struct OpenedFile {
    std::shared_ptr<DiscImage::SourceFile> file;
    std::uint64_t dataOffset = 0;  // where the samples or sectors begin
    std::uint64_t dataBytes = 0;
};

std::uint32_t Le32(const std::uint8_t* p) {
    return p[0] | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
}
std::uint16_t Le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

bool ReadAt(int fd, std::uint64_t offset, void* buffer, std::size_t size) {
    auto* at = static_cast<std::uint8_t*>(buffer);
    while (size > 0) {
        const ssize_t got = ::pread(fd, at, size, static_cast<off_t>(offset));
        if (got <= 0) return false;
        at += got;
        offset += static_cast<std::uint64_t>(got);
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

std::optional<OpenedFile> OpenRaw(const std::string& path, std::string* error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    OpenedFile opened{std::make_shared<DiscImage::SourceFile>(fd), 0, 0};
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        if (error) *error = path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    opened.dataBytes = static_cast<std::uint64_t>(info.st_size);
    return opened;
}

// A WAV file with CD audio: the place and size of its "data" chunk.
std::optional<OpenedFile> OpenWav(const std::string& path, std::string* error) {
    auto fail = [&](const char* why) -> std::optional<OpenedFile> {
        if (error) *error = path + ": " + why;
        return std::nullopt;
    };
    auto opened = OpenRaw(path, error);
    if (!opened) return std::nullopt;
    const std::uint64_t fileSize = opened->dataBytes;
    std::uint8_t riff[12];
    if (!ReadAt(opened->file->fd, 0, riff, sizeof riff) || std::memcmp(riff, "RIFF", 4) != 0 ||
        std::memcmp(riff + 8, "WAVE", 4) != 0) {
        return fail("not a RIFF/WAVE file");
    }
    bool formatOk = false;
    std::uint64_t at = 12;
    while (at + 8 <= fileSize) {
        std::uint8_t chunk[8];
        if (!ReadAt(opened->file->fd, at, chunk, sizeof chunk)) break;
        const std::uint64_t size = Le32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            std::uint8_t format[16];
            if (size < 16 || !ReadAt(opened->file->fd, at + 8, format, sizeof format)) return fail("short fmt chunk");
            formatOk = Le16(format) == 1 && Le16(format + 2) == 2 && Le32(format + 4) == 44100 &&
                       Le16(format + 14) == 16;
            if (!formatOk) return fail("not 44100 Hz 16-bit stereo PCM");
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!formatOk) return fail("data chunk before fmt chunk");
            opened->dataOffset = at + 8;
            // A writer that never fixed the size up leaves it too large.
            opened->dataBytes = std::min(size, fileSize - opened->dataOffset);
            return opened;
        }
        at += 8 + size + (size & 1);
    }
    return fail("no data chunk");
}

std::uint8_t Bcd(int value) { return static_cast<std::uint8_t>((value / 10) << 4 | (value % 10)); }

void SectorHeader(std::int32_t lba, std::uint8_t* frame) {
    frame[0] = 0x00;
    std::memset(frame + 1, 0xFF, 10);
    frame[11] = 0x00;
    const scsi::Msf msf = scsi::LbaToMsf(lba);
    frame[12] = Bcd(msf.minute);
    frame[13] = Bcd(msf.second);
    frame[14] = Bcd(msf.frame);
    frame[15] = 0x01;  // mode 1
}

}  // namespace

std::optional<DiscImage> DiscImage::Build(const DiscSetup& setup, std::string* error) {
    DiscImage disc;
    if (setup.tray != DiscSetup::Tray::Closed) {
        disc.trayOpen_ = setup.tray == DiscSetup::Tray::Open;
        return disc;
    }
    const bool built = setup.cuePath.empty() ? disc.FromTracks(setup, error) : disc.FromCue(setup.cuePath, error);
    if (!built) return std::nullopt;
    if (setup.session2Frames > 0) disc.AddSession2(setup.session2Frames);
    return disc;
}

bool DiscImage::FromTracks(const DiscSetup& setup, std::string* error) {
    if (setup.tracks.empty()) {
        if (error) *error = "a disc without tracks (use tray = empty for no disc)";
        return false;
    }
    if (setup.tracks.size() > 99) {
        if (error) *error = "more than 99 tracks";
        return false;
    }
    std::int32_t lba = 0;
    for (std::size_t i = 0; i < setup.tracks.size(); ++i) {
        const DiscSetup::Track& source = setup.tracks[i];
        if (i > 0 && source.audio != setup.tracks[i - 1].audio) lba += kModeChangeGap;
        Extent extent;
        extent.start = lba;
        extent.audio = source.audio;
        if (source.audio) {
            auto wav = OpenWav(source.wavPath, error);
            if (!wav) return false;
            if (wav->dataBytes == 0) {
                if (error) *error = source.wavPath + ": no samples";
                return false;
            }
            extent.file = wav->file;
            extent.offset = wav->dataOffset;
            extent.end = wav->dataOffset + wav->dataBytes;
            extent.frames = static_cast<std::int32_t>((wav->dataBytes + kFrameSize - 1) / kFrameSize);
        } else {
            extent.frames = source.frames;
        }
        tracks_.push_back(Track{static_cast<std::uint8_t>(i + 1), source.audio, 1, lba});
        extents_.push_back(extent);
        lba += extent.frames;
    }
    leadOuts_.push_back(lba);
    return true;
}

bool DiscImage::FromCue(const std::string& cuePath, std::string* error) {
    const auto sheet = ParseCueSheet(cuePath, error);
    if (!sheet) return false;
    std::vector<OpenedFile> files;
    for (const CueFile& file : sheet->files) {
        auto opened = file.type == CueFile::Type::Wave ? OpenWav(file.path, error) : OpenRaw(file.path, error);
        if (!opened) return false;
        files.push_back(*opened);
    }
    std::int32_t fileBase = 0;  // disc frame of the current file's frame 0, gaps aside
    std::int32_t shift = 0;     // PREGAP and POSTGAP frames so far: on the disc, not in files
    std::uint64_t fileOffset = 0;
    std::int32_t filePosition = 0;  // frame of the file that fileOffset points at
    for (std::size_t t = 0; t < sheet->tracks.size(); ++t) {
        const CueTrack& track = sheet->tracks[t];
        const OpenedFile& file = files[track.file];
        const bool newFile = t == 0 || sheet->tracks[t - 1].file != track.file;
        if (newFile) {
            if (t > 0) fileBase = leadOuts_.back() - shift;
            fileOffset = file.dataOffset;
            filePosition = 0;
        }
        const std::int32_t segmentStart = track.index0.value_or(track.index1);
        if (segmentStart < filePosition) {
            if (error) *error = cuePath + ": track " + std::to_string(track.number) + " starts before the previous one";
            return false;
        }
        // Frames between the previous segment and this one have this track's size.
        fileOffset += static_cast<std::uint64_t>(segmentStart - filePosition) * track.BytesPerFrame();
        filePosition = segmentStart;

        const bool lastInFile = t + 1 == sheet->tracks.size() || sheet->tracks[t + 1].file != track.file;
        std::int32_t segmentEnd = 0;
        if (lastInFile) {
            const std::uint64_t endByte = file.dataOffset + file.dataBytes;
            const std::uint64_t left = endByte > fileOffset ? endByte - fileOffset : 0;
            segmentEnd = segmentStart + static_cast<std::int32_t>((left + track.BytesPerFrame() - 1) / track.BytesPerFrame());
        } else {
            const CueTrack& next = sheet->tracks[t + 1];
            segmentEnd = next.index0.value_or(next.index1);
        }
        if (segmentEnd <= track.index1) {
            if (error) *error = cuePath + ": track " + std::to_string(track.number) + " has no frames";
            return false;
        }
        shift += track.pregap;
        Extent extent;
        extent.start = fileBase + segmentStart + shift;
        extent.frames = segmentEnd - segmentStart;
        extent.audio = track.mode == CueTrack::Mode::Audio;
        extent.file = file.file;
        extent.offset = fileOffset;
        extent.end = file.dataOffset + file.dataBytes;
        extent.bytesPerFrame = track.BytesPerFrame();
        extent.swapBytes = extent.audio && sheet->files[track.file].type == CueFile::Type::Motorola;
        extents_.push_back(extent);
        tracks_.push_back(Track{static_cast<std::uint8_t>(track.number), extent.audio, 1, fileBase + track.index1 + shift});

        fileOffset += static_cast<std::uint64_t>(extent.frames) * track.BytesPerFrame();
        filePosition = segmentEnd;
        shift += track.postgap;
        const std::int32_t end = fileBase + segmentEnd + shift;
        if (leadOuts_.empty()) {
            leadOuts_.push_back(end);
        } else {
            leadOuts_.back() = end;
        }
    }
    return true;
}

void DiscImage::AddSession2(std::int32_t frames) {
    const std::int32_t start = LeadOut() + scsi::kSessionGapFrames;
    Extent extent;
    extent.start = start;
    extent.frames = frames;
    extent.audio = false;
    extents_.push_back(extent);
    tracks_.push_back(Track{static_cast<std::uint8_t>(tracks_.back().number + 1), false, 2, start});
    leadOuts_.push_back(start + frames);
}

const DiscImage::Extent* DiscImage::Find(std::int32_t lba) const {
    auto after = std::upper_bound(extents_.begin(), extents_.end(), lba,
                                  [](std::int32_t value, const Extent& extent) { return value < extent.start; });
    if (after == extents_.begin()) return nullptr;
    const Extent& extent = *(after - 1);
    return lba < extent.start + extent.frames ? &extent : nullptr;
}

bool DiscImage::IsData(std::int32_t lba) const {
    const Extent* extent = Find(lba);
    return extent && !extent->audio;
}

void DiscImage::ReadFrame(std::int32_t lba, std::uint8_t* frame) const {
    std::memset(frame, 0, kFrameSize);
    const Extent* extent = Find(lba);
    if (!extent) return;
    const auto index = static_cast<std::uint64_t>(lba - extent->start);
    if (!extent->file) {
        SectorHeader(lba, frame);
        for (std::size_t i = 0; i < 2048; ++i) frame[16 + i] = static_cast<std::uint8_t>(lba * 7 + i);
        return;
    }
    const bool cooked = !extent->audio && extent->bytesPerFrame == 2048;
    std::uint8_t* target = cooked ? frame + 16 : frame;
    if (cooked) SectorHeader(lba, frame);
    const std::uint64_t offset = extent->offset + index * extent->bytesPerFrame;
    if (offset < extent->end) {
        const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(extent->bytesPerFrame, extent->end - offset));
        if (!ReadAt(extent->file->fd, offset, target, size)) std::memset(target, 0, extent->bytesPerFrame);
    }
    if (extent->swapBytes) {
        for (std::size_t i = 0; i + 1 < kFrameSize; i += 2) std::swap(frame[i], frame[i + 1]);
    }
}

}  // namespace kiv::vcd
