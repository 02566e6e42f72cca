#include "components/mp3/mp3_encoder.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>

#include "components/mp3/format/id3v1.h"
#include "components/mp3/format/id3v2_prepend.h"
#include "components/mp3/format/id3v2_writer.h"
#include "components/mp3/mp3_texts.h"
#include "platform/system/pipe.h"
#include "platform/system/system_error.h"

namespace kiv {
namespace {

constexpr EncoderTraits kMp3Traits{u".mp3", u"MP3 Encoder Control", true, 4096, 4096, true};

bool AnyTag(const TagRecord& t) {
    return !(t.title.empty() && t.artist.empty() && t.album.empty() && t.year.empty() && t.genre.empty() &&
             t.trackNo.empty() && t.comment.empty());
}

const char16_t* PrependMessage(mp3::PrependStage stage) {
    switch (stage) {
        case mp3::PrependStage::createTemporary: return mp3::texts::kTagCreateTemporary;
        case mp3::PrependStage::writeTag: return mp3::texts::kTagWrite;
        case mp3::PrependStage::openSource: return mp3::texts::kTagOpenSource;
        case mp3::PrependStage::readSource: return mp3::texts::kTagReadSource;
        // Moving the finished copy into place is the last write of the copy.
        case mp3::PrependStage::writeCopy:
        case mp3::PrependStage::replace:
        case mp3::PrependStage::done: break;
    }
    return mp3::texts::kTagWriteCopy;
}

}  // namespace

Mp3Encoder::Mp3Encoder() : CompressedEncoder(kClassMp3Encoder, kMp3Traits) {}

HRESULT Mp3Encoder::FinalConstruct() {
    if (HRESULT hr = CompressedEncoder::FinalConstruct(); FAILED(hr)) return hr;
    const mp3::BindStatus status = mp3::BindLame(lame_);
    if (status == mp3::BindStatus::bound) return S_OK;
    constructionFailed_ = true;
    return ReportError(status == mp3::BindStatus::notLoaded ? mp3::texts::kLameNotLoaded
                                                            : mp3::texts::kCannotInitEncoder);
}

void Mp3Encoder::FinalRelease() {
    // A failed creation ends in this release; the creator's caller must
    // still find the reason in the error info.
    ComPtr<IErrorInfo> reason;
    if (constructionFailed_) GetErrorInfo(0, reason.put());
    CompressedEncoder::FinalRelease();
    if (reason) SetErrorInfo(0, reason.get());
}

HRESULT Mp3Encoder::SetOutputFormatVBR(float fQuality) {
    // Written so that a quality that is not a number is refused as well.
    if (!(fQuality >= 0.0f && fQuality <= 1.0f)) return ReportError(mp3::texts::kBadQuality);
    output_ = {mp3::OutputMode::variableBitrate, 0, fQuality};
    return S_OK;
}

HRESULT Mp3Encoder::SetOutputFormatABR(LONG nAvgBitrate) {
    if (nAvgBitrate < 80000 || nAvgBitrate > 320000) return ReportError(mp3::texts::kBadAverageBitrate);
    output_ = {mp3::OutputMode::averageBitrate, nAvgBitrate, 0.0f};
    return S_OK;
}

HRESULT Mp3Encoder::SetOutputFormatCBR(LONG nBitrate) {
    if (!mp3::IsAllowedConstantBitrate(nBitrate, inputFormat().nSamplesPerSec))
        return ReportError(mp3::texts::kBadConstantBitrate);
    output_ = {mp3::OutputMode::constantBitrate, nBitrate, 0.0f};
    return S_OK;
}

HRESULT Mp3Encoder::PrepareStream() {
    const WAVEFORMATEX& input = inputFormat();
    auto config = mp3::MakeEncoderConfig(output_, input, !openedByHandle());
    if (!config) return ReportError(mp3::texts::kNoVbrPreset);
    DWORD samples = 0, bufferSize = 0;
    lame_enc::HBE_STREAM stream = 0;
    if (lame_->initStream(&config->record, &samples, &bufferSize, &stream) != lame_enc::BE_ERR_SUCCESSFUL) {
        return ReportError(config->configCase == mp3::ConfigCase::plain ? mp3::texts::kInitStreamPlain
                                                                       : mp3::texts::kInitStreamPreset);
    }
    // The pipe read of the encoding thread follows the library's chunk size
    // (two bytes per sample), so a library with larger chunks is served too.
    if (samples == 0) samples = 1152 * 2;
    try {
        outputBuffer_.assign(bufferSize, 0);
        inputBits_ = input.wBitsPerSample;
        if (inputBits_ == 8) widening_.assign(samples, 0);
        else widening_.clear();
    } catch (const std::bad_alloc&) {
        lame_->closeStream(stream);
        outputBuffer_.clear();
        widening_.clear();
        return E_OUTOFMEMORY;
    }
    samplesPerChunk_ = samples;
    stream_ = stream;
    streamOpen_ = true;
    return S_OK;
}

bool Mp3Encoder::EncodeSamples(const std::int16_t* samples, DWORD count, const char16_t* encodeFailed,
                               const char16_t* writeFailed) {
    DWORD produced = 0;
    if (lame_->encodeChunk(stream_, count, samples, outputBuffer_.data(), &produced) != lame_enc::BE_ERR_SUCCESSFUL) {
        lame_->closeStream(stream_);
        streamOpen_ = false;
        PostStreamError(encodeFailed);
        return false;
    }
    if (produced > outputBuffer_.size()) produced = DWORD(outputBuffer_.size());
    if (produced > 0 && !WriteAll(outputFd(), outputBuffer_.data(), produced)) {
        PostStreamError(FormatMessageText(writeFailed, SystemErrorText(errno)));
        return false;
    }
    return true;
}

bool Mp3Encoder::EncodeBlock(const BYTE* data, std::size_t size) {
    if (inputBits_ != 8) {
        // The pipeline's buffer comes from the heap and holds whole sample
        // frames, so it is aligned and sized for 16-bit samples.
        return EncodeSamples(reinterpret_cast<const std::int16_t*>(data), DWORD(size / 2),
                             mp3::texts::kEncodeFailed16, mp3::texts::kWriteFailed16);
    }
    for (std::size_t done = 0; done < size;) {
        const std::size_t portion = std::min<std::size_t>(size - done, widening_.size());
        for (std::size_t i = 0; i < portion; ++i)
            widening_[i] = static_cast<std::int16_t>((int(data[done + i]) - 128) * 256);
        if (!EncodeSamples(widening_.data(), DWORD(portion), mp3::texts::kEncodeFailed8, mp3::texts::kWriteFailed8))
            return false;
        done += portion;
    }
    return true;
}

void Mp3Encoder::CloseLibraryStream() {
    if (streamOpen_.exchange(false)) lame_->closeStream(stream_);
    stream_ = 0;
    outputBuffer_.clear();
    outputBuffer_.shrink_to_fit();
    widening_.clear();
    widening_.shrink_to_fit();
}

HRESULT Mp3Encoder::FinishStream(bool) {
    if (streamOpen_) {
        DWORD produced = 0;
        if (lame_->deinitStream(stream_, outputBuffer_.data(), &produced) != lame_enc::BE_ERR_SUCCESSFUL) {
            // The stream is given back at once, so a second Close finishes the
            // file without handing a dead stream to the library.
            CloseLibraryStream();
            return ReportError(mp3::texts::kDeinitFailed);
        }
        if (produced > outputBuffer_.size()) produced = DWORD(outputBuffer_.size());
        if (produced > 0 && !WriteAll(outputFd(), outputBuffer_.data(), produced)) {
            const int err = errno;
            CloseLibraryStream();
            return ReportError(FormatMessageText(mp3::texts::kFlushWriteFailed, SystemErrorText(err)));
        }
    }
    CloseLibraryStream();
    return FinishFile();
}

HRESULT Mp3Encoder::FinishFile() {
    if (openedByHandle()) {
        ReleaseOutput();  // the caller's descriptor stays open, untouched
        TrackGainNotWritten();  // and so holds no tags
        return S_OK;
    }
    const TagRecord tags = Tags();
    const bool tagged = AnyTag(tags);
    bool written = true;
    if (tagged) {
        const mp3::Id3v1Block v1 = mp3::buildId3v1(tags);
        written = ::lseek(outputFd(), 0, SEEK_END) >= 0 && WriteAll(outputFd(), v1.data(), v1.size());
    }
    int error = errno;
    const std::string path = outputPath();
    if (!ReleaseOutput() && written) {
        written = false;
        error = errno;
    }
    // A file that lost its end is no finished file, whatever follows.
    if (!written) return ReportError(FormatMessageText(mp3::texts::kFlushWriteFailed, SystemErrorText(error)));
    lame_->writeVbrHeader(path.c_str());
    const std::vector<TagPicture> pictures = Pictures();
    const std::vector<TagField> fields = FieldsToWrite();
    if (!tagged && pictures.empty() && fields.empty()) return S_OK;
    std::vector<std::string> cut;
    const std::vector<std::uint8_t> v2 = mp3::buildId3v2(tags, mp3::kId3v2MaxSize, &cut, &pictures, &fields);
    // Only text beyond the format's 256 MB gets here; the file is still
    // worth having, so the cut is told rather than failed.
    for (const std::string& id : cut)
        std::fprintf(stderr, "kivmp3: %s: the %s frame was cut to fit the ID3v2 size limit\n", path.c_str(), id.c_str());
    if (v2.empty()) return S_OK;
    const mp3::PrependResult r = mp3::prependId3v2(path, v2);
    if (r.ok()) return S_OK;
    return ReportError(FormatMessageText(PrependMessage(r.stage), SystemErrorText(r.error)));
}

}  // namespace kiv
