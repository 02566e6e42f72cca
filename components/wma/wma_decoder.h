// KivWmaDecoder: reads Windows Media Audio files through the media
// runtime's synchronous reader. A decoding thread of its own fills a pipe
// with PCM that Read drains, as the MP3 decoder does.
#pragma once

#include <atomic>
#include <memory>
#include <thread>

#include "components/common/decoder_object.h"
#include "platform/media/sync_reader.h"
#include "platform/system/byte_channel.h"
#include "platform/system/pipe.h"

namespace kiv {

class WmaDecoder final : public DecoderObject {
public:
    WmaDecoder() : DecoderObject(kClassWmaDecoder) {}
    static HRESULT Create(REFIID riid, void** ppv) { return CreateInstance<WmaDecoder>(riid, ppv); }

    HRESULT Open(BSTR szFilename) override;
    // The handle is a file descriptor the caller keeps: it is read and
    // sought through, never closed.
    HRESULT OpenHandle(void* hSource) override;
    HRESULT get_Position(LONG* value) override;
    HRESULT put_Position(LONG value) override { return Seek(value); }
    HRESULT get_Format(WAVEFORMATEX** value) override;
    HRESULT get_Bitrate(LONG* value) override;
    HRESULT get_Duration(LONG* value) override;
    HRESULT get_Filename(BSTR* value) override;
    HRESULT Seek(LONG position) override;
    HRESULT Read(BYTE* data, LONG count, LONG* read) override;
    HRESULT Close() override;
    HRESULT get_DamageNote(BSTR* note) override;

protected:
    bool CarriesPictures() const override { return true; }
    bool CarriesFields() const override { return true; }

private:
    ~WmaDecoder() override = default;

    // After the reader has opened its source: audio stream, duration, tags.
    HRESULT FinishOpen(std::unique_ptr<media::SyncReader> reader, std::u16string name);
    void DecodingThread(std::shared_ptr<ByteChannel> out);
    // Ends the decoding thread, if any, and drops what it left: the PCM in
    // the pipe and a failure not yet reported.
    void StopThread();
    // The reader counts the damage it read over; the account is ours.
    void TakeDamageAccount();

    std::unique_ptr<media::SyncReader> reader_;
    WORD audioStream_ = 0;
    std::uint64_t duration_ = 0;  // 100-ns units
    std::atomic<LONG> position_{0};
    WAVEFORMATEX format_{};
    std::u16string fileName_;

    std::atomic<bool> startThread_{true};
    // Opened, and no decoding thread nor seek since.
    std::atomic<bool> fromOpen_{false};
    std::thread thread_;
    // The decoded PCM's way to Read; null once Read has seen its end. The
    // decoding thread holds its own reference and closes the writing side.
    std::shared_ptr<ByteChannel> pipe_;
};

}  // namespace kiv
