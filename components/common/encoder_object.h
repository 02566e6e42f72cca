// The rules every encoder shares: opening and naming the output, asking
// before replacing a file, checking the input format, and encoding a whole
// WAV file. Each format supplies its output creation, Write and Close.
#pragma once

#include <atomic>
#include <span>
#include <string>

#include "components/common/codec_object.h"
#include "components/common/texts.h"

namespace kiv {

// What the classic formats take: 8- and 16-bit samples at the usual rates.
inline constexpr WORD kCommonDepths[] = {8, 16};
inline constexpr LONG kCommonRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};

// What sets one encoder apart from the others.
struct EncoderTraits {
    const char16_t* extension;  // ".wav"
    const char16_t* caption;    // message-box caption
    bool checkWfx;              // SetInputFormatWFX validates the record
    LONG asyncBlock;            // EncodeFromWave block size
    LONG syncBlock;             // EncodeFromWaveSync block size
    bool checkWriteResult;      // whole-file encoding stops at a failed Write
    WORD maxChannels = 2;       // input channels taken (from 1)
    std::span<const WORD> depths = kCommonDepths;  // integer sample sizes taken
    LONG maxRate = 0;  // 0: the common rates; else any rate from 1 Hz to this
};

class EncoderObject : public CodecObject<IKivAudioEncoder, kDispAudioEncoder> {
public:
    EncoderObject(const ClassIdentity& identity, const EncoderTraits& traits);

    HRESULT Open(BSTR szFilename) override;
    HRESULT SetInputFormat(LONG nChannels, LONG nSamplesPerSec, LONG nBitsPerSample) override;
    HRESULT SetInputFormatWFX(WAVEFORMATEX* pWfx) override;
    HRESULT get_Filename(BSTR* value) override;
    HRESULT get_AddExtension(VARIANT_BOOL* value) override;
    HRESULT put_AddExtension(VARIANT_BOOL value) override;
    HRESULT get_OverwritePrompt(VARIANT_BOOL* value) override;
    HRESULT put_OverwritePrompt(VARIANT_BOOL value) override;
    HRESULT EncodeFromWave(BSTR waveFile) override;
    HRESULT EncodeFromWaveSync(BSTR waveFile) override;

    const WAVEFORMATEX& inputFormat() const { return input_.Format; }
    // The input format with its WAVE_FORMAT_EXTENSIBLE part when it was given
    // one (sub-format and channel mask); that part is zero otherwise.
    const WAVEFORMATEXTENSIBLE& inputRecord() const { return input_; }

protected:
    ~EncoderObject() override = default;

    // Is an output open (file or caller's handle)?
    virtual bool IsOutputOpen() const = 0;
    // Creates the output file `path`, replacing any file of that name.
    // Returns S_OK or the format's reported error.
    virtual HRESULT CreateOutput(const std::string& path) = 0;
    // The encoding pipe's size for whole-file encoding (formats with a pipe).
    virtual void SetPipeSize(LONG) {}
    // Whole-file encoding hands each block over here (on the worker thread).
    // A format may take a block its own way; `counted` says whether the
    // block counts towards the progress percent.
    virtual HRESULT WriteWholeFileBlock(BYTE* data, LONG size, bool first, bool& counted) {
        (void)first;
        counted = true;
        return Write(data, size);
    }

    // Records the output name after a successful open (or by-handle open).
    void SetOutputName(std::u16string name, bool byHandle);
    void ClearOutputName();
    bool openedByHandle() const { return openedByHandle_; }

    LRESULT OnHelperMessage(UINT msg, WPARAM wp, LPARAM lp) override;
    void FinalRelease() override;

private:
    HRESULT CheckFormat(LONG channels, LONG rate, LONG bits);
    void EncodeWorker(std::string path);

    const EncoderTraits& traits_;
    WAVEFORMATEXTENSIBLE input_{{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0}, {0}, 0, {}};
    std::atomic<bool> addExtension_{true};
    std::atomic<bool> overwritePrompt_{true};
    std::u16string fileName_;
    bool openedByHandle_ = false;
};

}  // namespace kiv
