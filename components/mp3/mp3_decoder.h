// KivMP3Decoder: scans an MP3 file at Open (tags, format, duration, bitrate)
// and decodes it on a decoding thread of its own through the decoder
// library bound at creation; the thread fills a 4096-byte pipe that Read
// drains. Seeks are carried out by the thread, through the VBR header's
// table of contents or in proportion to the duration, landing on the next
// frame of the stream; what was decoded ahead for the old position is
// dropped.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "components/common/decoder_object.h"
#include "components/mp3/format/mp3_scan.h"
#include "components/mp3/runtime_library.h"
#include "platform/system/byte_channel.h"
#include "platform/system/pipe.h"

namespace kiv {

class Mp3Decoder final : public DecoderObject {
public:
    Mp3Decoder() : DecoderObject(kClassMp3Decoder) {}
    static HRESULT Create(REFIID riid, void** ppv) { return CreateInstance<Mp3Decoder>(riid, ppv); }

    HRESULT Open(BSTR szFilename) override;
    HRESULT OpenHandle(void*) override;
    HRESULT get_Position(LONG* value) override;
    HRESULT put_Position(LONG value) override { return Seek(value); }
    HRESULT get_Format(WAVEFORMATEX** value) override;
    HRESULT get_Bitrate(LONG* value) override;
    HRESULT get_Duration(LONG* value) override;
    HRESULT get_Filename(BSTR* value) override;
    HRESULT Seek(LONG position) override;
    HRESULT Read(BYTE* data, LONG count, LONG* read) override;
    HRESULT Close() override;

private:
    ~Mp3Decoder() override = default;

    bool CarriesPictures() const override { return true; }
    bool CarriesFields() const override { return true; }

    HRESULT FinalConstruct() override;
    void FinalRelease() override;
    HRESULT StartThread();
    // Ends the decoding thread, if any, and drops what it left: the PCM in
    // the pipe and a failure not yet reported.
    void StopThread();
    void DecodingThread(std::shared_ptr<ByteChannel> out);
    // On the decoding thread, after the library lost the stream: moves to
    // where it goes on and keeps the account of what was skipped. false
    // ends the stream (no frame of it follows, or another format does).
    bool ResyncAfterDamage(int fd);

    const mp3::MpglibEntryPoints* mpglib_ = nullptr;
    bool constructionFailed_ = false;

    bool open_ = false;
    std::u16string fileName_;
    WAVEFORMATEX format_{};
    mp3::Mp3StreamInfo info_;
    UniqueFd file_;  // read by the decoding thread alone while it runs

    // Shared with the decoding thread, each a single value.
    std::atomic<double> positionMs_{0};
    std::atomic<std::int64_t> pendingSeekMs_{-1};
    std::atomic<bool> startThread_{false};
    std::atomic<bool> stop_{false};

    // Where the decoding thread reads the file next; it carries over from one
    // thread to the next, so a Read after the end stays at the end.
    std::int64_t filePos_ = 0;
    std::thread thread_;
    // The decoded PCM's way to Read; null once Read has seen its end. The
    // decoding thread holds its own reference and closes the writing side.
    std::shared_ptr<ByteChannel> pipe_;
};

}  // namespace kiv
