// KivWmaEncoder: writes Windows Media Audio files through the media
// runtime's writer. The writer is prepared on the component's own thread
// (the first Write has the helper window run that step) and fed with
// timestamped samples from the encoding thread.
#pragma once

#include <atomic>
#include <memory>
#include <thread>

#include "components/pipeline/compressed_encoder.h"
#include "platform/media/writer.h"

namespace kiv {

class WmaEncoder final : public CompressedEncoder {
public:
    WmaEncoder();
    static HRESULT Create(REFIID riid, void** ppv) { return CreateInstance<WmaEncoder>(riid, ppv); }

    // The helper window's messages: the first block of a whole-file encoding
    // (wParam = data, lParam = byte count; answers Write's HRESULT), and the
    // stream preparation (wParam = where its HRESULT goes).
    static constexpr UINT kWriteFirstBlock = WM_USER + 100;
    static constexpr UINT kPrepareWriter = WM_USER + 101;

    HRESULT OpenHandle(void* hSource) override;
    HRESULT SetOutputFormatVBR(float fQuality) override;
    HRESULT SetOutputFormatABR(LONG nAvgBitrate) override;
    HRESULT SetOutputFormatCBR(LONG nBitrate) override;

protected:
    bool IsOutputOpen() const override { return writer_ != nullptr; }
    HRESULT CreateOutput(const std::string& path) override;

    HRESULT PrepareStream() override;
    std::size_t BlockSize() const override { return 65536; }
    bool EncodeBlock(const BYTE* data, std::size_t size) override;
    HRESULT BeforePipeWrite() override;
    HRESULT FinishStream(bool streamStarted) override;
    HRESULT WriteWholeFileBlock(BYTE* data, LONG size, bool first, bool& counted) override;

    LRESULT OnHelperMessage(UINT msg, WPARAM wp, LPARAM lp) override;
    bool CarriesPictures() const override { return true; }
    bool CarriesFields() const override { return true; }

private:
    ~WmaEncoder() override = default;

    enum class Mode { ConstantBitrate = 0, Quality = 2 };

    HRESULT PrepareWriter();
    // `hr` as it is, with error info telling what it means.
    HRESULT WithText(HRESULT hr) const;
    void OnWriterStatus(media::Status status, HRESULT hr);

    // Output mode and its parameter, read by the preparation.
    Mode mode_ = Mode::Quality;
    LONG bitrate_ = 0;
    float quality_ = 0.5f;

    std::unique_ptr<media::Writer> writer_;
    bool writingBegun_ = false;
    bool tagsWritten_ = false;
    // COM is initialised per Open and uninitialised per Close, on the thread
    // that opened (a converter may close from its worker thread).
    bool comInitialised_ = false;
    std::thread::id comThread_;
    DWORD callbackCookie_ = 0;
    bool callbackRegistered_ = false;
    // Owned by the encoding thread while it runs.
    std::uint64_t sampleClockMs_ = 0;
    DWORD avgBytesPerSec_ = 0;
    // Set from whichever thread the writer reports a failure on.
    std::atomic<bool> writerFailed_{false};
    std::atomic<HRESULT> writerFailure_{S_OK};
};

}  // namespace kiv
