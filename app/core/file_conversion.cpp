#include "app/core/file_conversion.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstdio>
#include <filesystem>

#include "components/common/identities.h"
#include "platform/com/class_registry.h"
#include "platform/com/error_info.h"
#include "platform/system/text.h"

namespace kiv::app {
namespace fs = std::filesystem;

std::string DescribeResult(HRESULT hr) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
    const char* what = nullptr;
    switch (hr) {
        case REGDB_E_CLASSNOTREG: what = "the component is not registered"; break;
        case CO_E_DLLNOTFOUND: what = "the component's module could not be loaded"; break;
        case CO_E_ERRORINDLL: what = "the component's module is not a component server"; break;
        case E_FAIL: what = "the file could not be opened or is not in a supported format"; break;
        case E_OUTOFMEMORY: what = "out of memory"; break;
        case E_NOTIMPL: what = "not supported"; break;
        default: break;
    }
    return what ? std::string(what) + " (" + code + ")" : std::string("error ") + code;
}

std::string ComponentErrorText(HRESULT hr) {
    std::u16string text = TakeErrorDescription();
    return text.empty() ? DescribeResult(hr) : ToUtf8(text);
}

std::string ApplyOutputMode(IKivAudioEncoder* encoder, QualityMode mode, int value) {
    HRESULT hr = S_OK;
    switch (mode) {
        case QualityMode::None: return {};
        case QualityMode::Cbr: hr = encoder->SetOutputFormatCBR(static_cast<LONG>(value) * 1000); break;
        case QualityMode::Abr: hr = encoder->SetOutputFormatABR(static_cast<LONG>(value) * 1000); break;
        case QualityMode::Vbr: hr = encoder->SetOutputFormatVBR(static_cast<float>(value) / 100.0f); break;
    }
    if (SUCCEEDED(hr)) return {};
    return ComponentErrorText(hr);
}

QualityOutcome ApplyQuality(IKivAudioEncoder* encoder, const OutputChoices& choices, const std::string& format) {
    QualityOutcome outcome;
    if (!FormatOffers(format, choices.quality)) return outcome;
    const int value = choices.QualityValue();
    const std::string refusal = ApplyOutputMode(encoder, choices.quality, value);
    if (refusal.empty())
        outcome.taken = true;
    else
        outcome.refusal =
            " The encoder refused " + DescribeOutputMode(choices.quality, value) + " (" + refusal + "). Its default is used.";
    return outcome;
}

std::string LateRefusalLine(const OutputChoices& choices, const std::string& reason, const char* again) {
    return " The encoder refused " + DescribeOutputMode(choices.quality, choices.QualityValue()) + " (" + reason +
           "). " + again;
}

std::string SubstitutedBitrateLine(const OutputChoices& choices, const std::string& format,
                                   const std::string& finishedFile) {
    if (choices.quality != QualityMode::Cbr || format != "WMA") return {};
    ComPtr<IKivAudioDecoder> decoder;
    if (FAILED(CoCreateInstance(kClassWmaDecoder.clsid, nullptr, CLSCTX_ALL, IID_IKivAudioDecoder,
                                decoder.put_void())))
        return {};
    Bstr name(FromUtf8(finishedFile));
    LONG bitrate = 0;
    const bool read = SUCCEEDED(decoder->Open(name.get())) && SUCCEEDED(decoder->get_Bitrate(&bitrate));
    decoder->Close();
    // What failed here is no fault of the conversion: its error text goes.
    if (!read) {
        TakeErrorDescription();
        return {};
    }
    const long asked = long(choices.QualityValue()) * 1000;
    if (bitrate <= 0 || std::labs(bitrate - asked) < 1000) return {};
    return " WMA offers no " + DescribeOutputMode(choices.quality, choices.QualityValue()) +
           " for this source; CBR " + std::to_string((bitrate + 500) / 1000) + " kbit/s was used.";
}

std::string DescribeOutputMode(QualityMode mode, int value) {
    switch (mode) {
        case QualityMode::Cbr: return "CBR " + std::to_string(value) + " kbit/s";
        case QualityMode::Abr: return "ABR " + std::to_string(value) + " kbit/s";
        case QualityMode::Vbr: return "VBR " + std::to_string(value) + "%";
        case QualityMode::None: break;
    }
    return "the default output mode";
}

std::string TemporaryPathFor(const std::string& destination) {
    static std::atomic<unsigned> counter{0};
    fs::path p(destination);
    std::string name = "." + p.stem().string() + ".partial-" + std::to_string(::getpid()) + "-" +
                       std::to_string(counter++) + p.extension().string();
    return (p.parent_path() / name).string();
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

}  // namespace kiv::app
