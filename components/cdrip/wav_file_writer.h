// The WAV output of an extraction job: a RIFF/WAVE file in the disc's
// format, fed through a 1 MiB pipe and written by a thread of its own, so
// that reading the disc waits for the file system only when a whole
// mebibyte is waiting to be written.
#pragma once

#include <mutex>
#include <string>
#include <thread>

#include "platform/riff/riff.h"
#include "platform/system/pipe.h"

namespace kiv::cdrip {

constexpr int kWavPipeSize = 1048576;
constexpr std::size_t kWavWriteChunk = 65536;

class WavFileWriter {
public:
    WavFileWriter() = default;
    WavFileWriter(const WavFileWriter&) = delete;
    WavFileWriter& operator=(const WavFileWriter&) = delete;
    // A writer dropped without Finish still finishes its file.
    ~WavFileWriter();

    // Creates (or truncates) the file, writes the header and starts the
    // writer thread. On failure `error` holds the message for the host.
    bool Open(const std::string& path, std::u16string& error);
    // Queues PCM for the file; on failure `error` holds the message.
    bool Write(const void* data, std::size_t size, std::u16string& error);
    // Drains the pipe, fixes the chunk sizes up and closes the file.
    bool Finish(std::u16string& error);

private:
    void Drain();
    std::u16string WriterError();

    RiffFile file_;
    ChunkInfo riff_{};
    ChunkInfo data_{};
    Pipe pipe_;
    std::thread thread_;
    std::mutex errorLock_;
    std::u16string writerError_;
    bool open_ = false;
};

}  // namespace kiv::cdrip
