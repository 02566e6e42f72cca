// The six C entry points of lame_enc.so.
//
// Stream handles are numbers from a table rather than pointers, so a handle
// that was closed already, or never was one, is refused instead of being
// followed. Handles are never reused within a process.

#include <lame/lame.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <type_traits>
#include <unordered_map>

#include "runtime/lame_enc/encoder_stream.h"
#include "runtime/lame_enc/lame_enc.h"
#include "runtime/lame_enc/vbr_header_ledger.h"

namespace kiv::lame_enc {
namespace {

// Version of this library (not of the encoder engine inside it).
constexpr BYTE kLibraryMajor = 1;
constexpr BYTE kLibraryMinor = 32;
constexpr BYTE kReleaseDay = 1;
constexpr BYTE kReleaseMonth = 6;
constexpr WORD kReleaseYear = 2024;

class StreamTable {
public:
    HBE_STREAM Add(std::shared_ptr<EncoderStream> stream) {
        std::lock_guard lock(mutex_);
        const HBE_STREAM handle = next_++;
        streams_.emplace(handle, std::move(stream));
        return handle;
    }

    // Shared ownership keeps a stream alive for a call in flight even if
    // another thread closes its handle meanwhile.
    std::shared_ptr<EncoderStream> Find(HBE_STREAM handle) {
        std::lock_guard lock(mutex_);
        const auto it = streams_.find(handle);
        return it == streams_.end() ? nullptr : it->second;
    }

    std::shared_ptr<EncoderStream> Remove(HBE_STREAM handle) {
        std::lock_guard lock(mutex_);
        const auto it = streams_.find(handle);
        if (it == streams_.end()) return nullptr;
        std::shared_ptr<EncoderStream> stream = std::move(it->second);
        streams_.erase(it);
        return stream;
    }

private:
    std::mutex mutex_;
    std::unordered_map<HBE_STREAM, std::shared_ptr<EncoderStream>> streams_;
    HBE_STREAM next_ = 1;
};

StreamTable& Streams() {
    static StreamTable table;
    return table;
}

VbrHeaderLedger& Ledger() {
    static VbrHeaderLedger ledger;
    return ledger;
}

}  // namespace
}  // namespace kiv::lame_enc

using namespace kiv;
using namespace kiv::lame_enc;

extern "C" {

__attribute__((visibility("default"))) BE_ERR beInitStream(PBE_CONFIG config, DWORD* samplesPerChunk,
                                                           DWORD* outputBufferSize, PHBE_STREAM stream) {
    if (config == nullptr || samplesPerChunk == nullptr || outputBufferSize == nullptr || stream == nullptr) {
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    }
    std::unique_ptr<EncoderStream> created;
    if (BE_ERR err = EncoderStream::Create(*config, created); err != BE_ERR_SUCCESSFUL) {
        return err;
    }
    *samplesPerChunk = created->SamplesPerChunk();
    *outputBufferSize = created->OutputBufferSize();
    *stream = Streams().Add(std::move(created));
    return BE_ERR_SUCCESSFUL;
}

__attribute__((visibility("default"))) BE_ERR beEncodeChunk(HBE_STREAM stream, DWORD sampleCount,
                                                            const std::int16_t* samples, BYTE* output,
                                                            DWORD* outputBytes) {
    const std::shared_ptr<EncoderStream> s = Streams().Find(stream);
    if (!s) return BE_ERR_INVALID_HANDLE;
    return s->Encode(sampleCount, samples, output, outputBytes);
}

__attribute__((visibility("default"))) BE_ERR beDeinitStream(HBE_STREAM stream, BYTE* output, DWORD* outputBytes) {
    const std::shared_ptr<EncoderStream> s = Streams().Find(stream);
    if (!s) return BE_ERR_INVALID_HANDLE;
    return s->Finish(output, outputBytes);
}

__attribute__((visibility("default"))) BE_ERR beCloseStream(HBE_STREAM stream) {
    const std::shared_ptr<EncoderStream> s = Streams().Remove(stream);
    if (!s) return BE_ERR_INVALID_HANDLE;
    if (std::optional<FinishedTag> tag = s->TakeFinishedTag()) {
        Ledger().Add(std::move(*tag));
    }
    return BE_ERR_SUCCESSFUL;
}

__attribute__((visibility("default"))) void beVersion(PBE_VERSION version) {
    if (version == nullptr) return;
    std::memset(version, 0, sizeof *version);
    version->byDLLMajorVersion = kLibraryMajor;
    version->byDLLMinorVersion = kLibraryMinor;
    lame_version_t engine{};
    get_lame_version_numerical(&engine);
    version->byMajorVersion = static_cast<BYTE>(engine.major);
    version->byMinorVersion = static_cast<BYTE>(engine.minor);
    version->byAlphaLevel = static_cast<BYTE>(engine.alpha);
    version->byBetaLevel = static_cast<BYTE>(engine.beta);
    version->byDay = kReleaseDay;
    version->byMonth = kReleaseMonth;
    version->wYear = kReleaseYear;
    std::strncpy(version->zHomepage, get_lame_url(), BE_MAX_HOMEPAGE);
    version->zHomepage[BE_MAX_HOMEPAGE] = '\0';
}

__attribute__((visibility("default"))) BE_ERR beWriteVBRHeader(const char* fileName) {
    if (fileName == nullptr || *fileName == '\0') return BE_ERR_INVALID_FORMAT_PARAMETERS;
    return Ledger().WriteInto(fileName);
}

}  // extern "C"

// The component resolves these with the typedefs of the public header; a
// signature drifting apart would only show as a crash there.
static_assert(std::is_same_v<decltype(&beInitStream), PFN_beInitStream>);
static_assert(std::is_same_v<decltype(&beEncodeChunk), PFN_beEncodeChunk>);
static_assert(std::is_same_v<decltype(&beDeinitStream), PFN_beDeinitStream>);
static_assert(std::is_same_v<decltype(&beCloseStream), PFN_beCloseStream>);
static_assert(std::is_same_v<decltype(&beVersion), PFN_beVersion>);
static_assert(std::is_same_v<decltype(&beWriteVBRHeader), PFN_beWriteVBRHeader>);
