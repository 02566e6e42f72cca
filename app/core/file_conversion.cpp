#include "app/core/file_conversion.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "components/common/identities.h"
#include "platform/com/class_registry.h"
#include "platform/com/error_info.h"
#include "platform/system/system_error.h"
#include "platform/system/text.h"

namespace kiv::app {
namespace fs = std::filesystem;

ComPtr<IKivReplayGain> MeasureTrackGain(IKivAudioEncoder* encoder) {
    ComPtr<IKivReplayGain> gain;
    if (FAILED(encoder->QueryInterface(IID_IKivReplayGain, gain.put_void())) || !gain) return {};
    if (FAILED(gain->put_MeasureTrackGain(VARIANT_TRUE))) return {};
    return gain;
}

namespace {
// Fixed decimals whatever the process's locale: the desktop program runs
// under the user's, where printf would write "-7,23".
std::string Fixed(double value, int decimals) {
    char text[64];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    return ec == std::errc() ? std::string(text, end) : std::string();
}
}  // namespace

std::string ReplayGainLine(IKivReplayGain* measured) {
    double gainDb = 0, peak = 0;
    if (!measured || measured->GetTrackGain(&gainDb, &peak) != S_OK) return {};
    return " ReplayGain: " + std::string(gainDb > 0 ? "+" : "") + Fixed(gainDb, 2) + " dB, peak " + Fixed(peak, 6);
}

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
        // The media runtime's codes, which its codecs return without a text.
        case MakeHResult(0xC00D002F): what = "the file is damaged or is not a Windows Media file"; break;
        case MakeHResult(0xC00D002B): what = "the media runtime refused the request for this file"; break;
        case MakeHResult(0xC00D0BB8): what = "the media runtime does not take this input format"; break;
        case MakeHResult(0xC00D0BBB): what = "the media runtime has no such output format"; break;
        case MakeHResult(0xC00D0BC2): what = "no format of the codec fits"; break;
        default: break;
    }
    // A system error passed through as an HRESULT: the system's words.
    if (!what && (static_cast<unsigned>(hr) & 0xFFFF0000u) == 0x80070000u && (hr & 0xFFFF) != 0)
        return ToUtf8(SystemErrorText(hr & 0xFFFF)) + " (" + code + ")";
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

bool IsOutputModeRefusal(const std::string& message) {
    // The encoders' own words when the stream cannot be set up with the
    // chosen mode for this input; every other failure keeps its own words.
    static constexpr const char* kRefusals[] = {
        "Internal Vorbis logic fault",                        // Ogg Vorbis
        "beInitStream failed.",                               // MP3 (#5, #6)
        "VBR preset could not be selected.",                  // MP3
        "Wrong bitrate specified for this input format.",     // MP3
        "Bitrate must be between 80000 and 320000 in ABR mode.",  // MP3
        "Internal error #78. The codec has no format for",    // WMA
        "FLAC doesn't support constant bitrate encoding.",    // FLAC
        "FLAC does not support Average Bitrate mode.",        // FLAC
        "Bitrate must be between 6000 and 510000 for Opus.",  // Opus
        "Opus encoder set-up failed:",                        // Opus
    };
    for (const char* refusal : kRefusals)
        if (message.find(refusal) != std::string::npos) return true;
    return false;
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

namespace {

constexpr char kPartialMark[] = ".partial-";

// The start time of process `pid` in clock ticks after boot (field 22 of
// /proc/PID/stat), or 0 when there is no such process.
unsigned long long ProcessStartTime(pid_t pid) {
    std::FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
    if (!f) return 0;
    char buffer[1024];
    const std::size_t n = std::fread(buffer, 1, sizeof buffer - 1, f);
    std::fclose(f);
    buffer[n] = '\0';
    // The command name (field 2) may hold spaces and parentheses; the fields
    // after it start behind its last ')'.
    const char* p = std::strrchr(buffer, ')');
    if (!p) return 0;
    // Field 3 (state) is the first after ')'; the start time is field 22.
    for (int field = 3; *p && field <= 22; ++field) {
        while (*p == ' ' || *p == ')') ++p;
        if (field == 22) return std::strtoull(p, nullptr, 10);
        while (*p && *p != ' ') ++p;
    }
    return 0;
}

unsigned long long OwnStartTime() {
    static const unsigned long long start = ProcessStartTime(::getpid());
    return start;
}

// Reads "PID-START-N" right after the mark; false unless the name is one of ours.
bool ParseTemporaryName(const std::string& name, pid_t& pid, unsigned long long& start) {
    if (name.size() < 2 || name[0] != '.') return false;
    const std::size_t mark = name.rfind(kPartialMark);
    if (mark == std::string::npos || mark == 0) return false;
    const char* p = name.c_str() + mark + sizeof kPartialMark - 1;
    unsigned long long numbers[3];
    for (int i = 0; i < 3; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
        char* end = nullptr;
        numbers[i] = std::strtoull(p, &end, 10);
        p = end;
        if (i < 2 && *p++ != '-') return false;
    }
    // Nothing but the destination's extension may follow.
    if (*p && (*p != '.' || std::strchr(p + 1, '.') || std::strchr(p, '/'))) return false;
    if (numbers[0] == 0 || numbers[0] > 0x7FFFFFFF) return false;
    pid = static_cast<pid_t>(numbers[0]);
    start = numbers[1];
    return true;
}

}  // namespace

std::string TemporaryPathFor(const std::string& destination) {
    static std::atomic<unsigned> counter{0};
    fs::path p(destination);
    std::string name = "." + p.stem().string() + kPartialMark + std::to_string(::getpid()) + "-" +
                       std::to_string(OwnStartTime()) + "-" + std::to_string(counter++) + p.extension().string();
    return (p.parent_path() / name).string();
}

std::string SweepStaleTemporaries(const std::string& folder) {
    const int removed = RemoveStaleTemporaries(folder);
    if (removed == 0) return {};
    return " Removed " + std::to_string(removed) + (removed == 1 ? " unfinished file" : " unfinished files") +
           " of an interrupted run from " + (folder.empty() ? std::string(".") : folder) + ".";
}

std::string DirectoryOf(const std::string& path) { return fs::path(path).parent_path().string(); }

int RemoveStaleTemporaries(const std::string& folder) {
    int removed = 0;
    std::error_code ec;
    for (fs::directory_iterator it(folder.empty() ? "." : folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        pid_t pid = 0;
        unsigned long long start = 0;
        if (!ParseTemporaryName(name, pid, start)) continue;
        struct stat st;
        if (::lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) continue;
        // Still somebody's work in hand: the same process, started then.
        if (ProcessStartTime(pid) == start) continue;
        if (::unlink(it->path().c_str()) == 0) ++removed;
    }
    return removed;
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

}  // namespace kiv::app
