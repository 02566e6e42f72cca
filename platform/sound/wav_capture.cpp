#include "platform/sound/wav_capture.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace kiv::sound {

namespace {

// Data bytes beyond this could not be described by a RIFF header; capture
// stops growing there rather than writing a file with wrong sizes.
constexpr std::uint64_t kMaxDataBytes = 0xFFFFFFFFull - 64;

void PutLe(std::vector<BYTE>& out, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<BYTE>(v >> (8 * i)));
}

}  // namespace

WavCapture::~WavCapture() { Finish(); }

void WavCapture::Finish() {
    FlushAll();
    file_.reset();
    format_.reset();
    pending_.clear();
    flushedFrames_ = 0;
    dataBytes_ = 0;
    failed_ = false;
}

void WavCapture::Use(const std::string& path) {
    if (path == path_) return;
    Finish();
    path_ = path;
    ++generation_;
}

bool WavCapture::Accepts(const PcmFormat& format) {
    if (path_.empty() || failed_) return false;
    if (format_) return *format_ == format;
    file_.reset(std::fopen(path_.c_str(), "w+b"));
    if (!file_) {
        // Nothing else reports for the null device; say once why the capture
        // file the caller asked for will not appear.
        std::fprintf(stderr, "kivsound: cannot create capture file %s: %s\n", path_.c_str(), std::strerror(errno));
        failed_ = true;
        return false;
    }
    format_ = format;
    WriteHeader();
    return true;
}

std::uint64_t WavCapture::EndFrame() const {
    if (!format_) return flushedFrames_;
    return flushedFrames_ + pending_.size() / format_->channels;
}

void WavCapture::Add(std::uint64_t frame, WORD channel, double value) {
    if (!format_ || frame < flushedFrames_ || channel >= format_->channels) return;
    const std::size_t index = std::size_t(frame - flushedFrames_) * format_->channels + channel;
    if (index >= pending_.size()) pending_.resize((index / format_->channels + 1) * format_->channels, 0.0);
    pending_[index] += value;
}

void WavCapture::FlushBefore(std::uint64_t frame) {
    if (!format_ || !file_ || frame <= flushedFrames_) return;
    const std::uint64_t frames = std::min<std::uint64_t>(frame - flushedFrames_, pending_.size() / format_->channels);
    if (frames == 0) return;
    const std::size_t samples = std::size_t(frames) * format_->channels;
    const std::size_t sampleBytes = format_->bits / 8;
    std::vector<BYTE> bytes(samples * sampleBytes);
    for (std::size_t i = 0; i < samples; ++i) WriteSample(*format_, pending_[i], bytes.data() + i * sampleBytes);
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(samples));
    flushedFrames_ += frames;

    const std::uint64_t room = dataBytes_ < kMaxDataBytes ? kMaxDataBytes - dataBytes_ : 0;
    const std::size_t toWrite = static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), room));
    const long dataStart = format_->isFloat ? 46 : 44;
    std::fseek(file_.get(), dataStart + static_cast<long>(dataBytes_), SEEK_SET);
    dataBytes_ += std::fwrite(bytes.data(), 1, toWrite, file_.get());
    if (dataBytes_ & 1) std::fputc(0, file_.get());  // RIFF pad byte; the next write covers it
    WriteHeader();
}

void WavCapture::WriteHeader() {
    // PCM gets the 16-byte format chunk every reader knows; float needs the
    // 18-byte record with cbSize.
    const PcmFormat& f = *format_;
    const std::uint32_t fmtSize = f.isFloat ? 18 : 16;
    const auto data = static_cast<std::uint32_t>(dataBytes_);
    std::vector<BYTE> h;
    h.insert(h.end(), {'R', 'I', 'F', 'F'});
    PutLe(h, 4 + (8 + fmtSize) + 8 + data + (data & 1), 4);
    h.insert(h.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    PutLe(h, fmtSize, 4);
    const WAVEFORMATEX w = f.ToWaveFormat();
    PutLe(h, w.wFormatTag, 2);
    PutLe(h, w.nChannels, 2);
    PutLe(h, w.nSamplesPerSec, 4);
    PutLe(h, w.nAvgBytesPerSec, 4);
    PutLe(h, w.nBlockAlign, 2);
    PutLe(h, w.wBitsPerSample, 2);
    if (f.isFloat) PutLe(h, 0, 2);
    h.insert(h.end(), {'d', 'a', 't', 'a'});
    PutLe(h, data, 4);
    std::fseek(file_.get(), 0, SEEK_SET);
    std::fwrite(h.data(), 1, h.size(), file_.get());
    std::fflush(file_.get());
}

}  // namespace kiv::sound
