#include "components/cdrip/wav_file_writer.h"

#include <cerrno>
#include <vector>

#include "platform/system/system_error.h"

namespace kiv::cdrip {
namespace {

constexpr char16_t kCannotCreate[] = u"Cannot create wav-file";
constexpr char16_t kWriteError[] = u"Write error";

// 18 bytes of WAVEFORMATEX for 44100 Hz 16-bit stereo PCM.
constexpr BYTE kFormat[18] = {1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 0x02, 0, 4, 0, 16, 0, 0, 0};

}  // namespace

WavFileWriter::~WavFileWriter() {
    if (open_) {
        std::u16string ignored;
        Finish(ignored);
    }
}

bool WavFileWriter::Open(const std::string& path, std::u16string& error) {
    if (!file_.Open(path, RiffFile::Mode::Create)) {
        error = kCannotCreate;
        return false;
    }
    riff_ = {};
    riff_.fccType = kFourCC_WAVE;
    ChunkInfo fmt{};
    fmt.ckid = kFourCC_fmt;
    data_ = {};
    data_.ckid = kFourCC_data;
    if (!file_.CreateChunk(riff_, true) || !file_.CreateChunk(fmt) || !file_.Write(kFormat, sizeof kFormat) ||
        !file_.Ascend(fmt) || !file_.CreateChunk(data_)) {
        file_.Close();
        error = kWriteError;
        return false;
    }
    if (!pipe_.Create(kWavPipeSize)) {
        file_.Close();
        error = FormatMessageText(u"Internal error 1411: %s", SystemErrorText(errno));
        return false;
    }
    open_ = true;
    thread_ = std::thread(&WavFileWriter::Drain, this);
    return true;
}

void WavFileWriter::Drain() {
    std::vector<BYTE> buffer(kWavWriteChunk);
    for (;;) {
        const long n = ReadFull(pipe_.read.get(), buffer.data(), buffer.size());
        if (n <= 0) break;
        if (!file_.Write(buffer.data(), static_cast<std::size_t>(n))) {
            std::lock_guard lock(errorLock_);
            writerError_ = kWriteError;
            break;
        }
    }
    // Closing the read end makes further pipe writes fail at once.
    pipe_.read.reset();
}

std::u16string WavFileWriter::WriterError() {
    std::lock_guard lock(errorLock_);
    return writerError_;
}

bool WavFileWriter::Write(const void* data, std::size_t size, std::u16string& error) {
    if (WriteAll(pipe_.write.get(), data, size)) return true;
    const int err = errno;
    error = WriterError();
    if (error.empty()) {
        error = FormatMessageText(u"Internal error 1411: %s", SystemErrorText(err));
    }
    return false;
}

bool WavFileWriter::Finish(std::u16string& error) {
    if (!open_) return true;
    open_ = false;
    pipe_.write.reset();
    if (thread_.joinable()) thread_.join();
    bool ok = WriterError().empty();
    if (!file_.Ascend(data_) || !file_.Ascend(riff_)) ok = false;
    if (!file_.CloseChecked()) ok = false;
    if (!ok) error = kWriteError;
    return ok;
}

}  // namespace kiv::cdrip
