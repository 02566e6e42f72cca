#include "app/core/file_conversion.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "app/core/output_planning.h"
#include "components/common/interfaces.h"
#include "platform/com/class_registry.h"
#include "platform/com/connection_point.h"
#include "platform/msg/message_queue.h"
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

namespace {

ConversionOutcome Failed(std::string message) { return {ConversionOutcome::Status::Failed, std::move(message), {}}; }

// The failing call's own text when it left one, else a description of its result.
std::string ErrorText(HRESULT hr) {
    std::u16string text = TakeErrorDescription();
    return text.empty() ? DescribeResult(hr) : ToUtf8(text);
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

std::string TemporaryName(const std::string& destination) {
    fs::path p(destination);
    std::string name = "." + p.stem().string() + ".partial-" + std::to_string(::getpid()) + p.extension().string();
    return (p.parent_path() / name).string();
}

}  // namespace

std::string ApplyOutputMode(IKivAudioEncoder* encoder, OutputMode mode, double value) {
    HRESULT hr = S_OK;
    switch (mode) {
        case OutputMode::Default: return {};
        case OutputMode::Cbr: hr = encoder->SetOutputFormatCBR(static_cast<LONG>(value * 1000 + 0.5)); break;
        case OutputMode::Abr: hr = encoder->SetOutputFormatABR(static_cast<LONG>(value * 1000 + 0.5)); break;
        case OutputMode::Vbr: hr = encoder->SetOutputFormatVBR(static_cast<float>(value)); break;
    }
    if (SUCCEEDED(hr)) return {};
    return ErrorText(hr);
}

ConversionOutcome ConvertFile(const ConversionRequest& request, const ProgressFn& progress) {
    struct stat st;
    if (::stat(request.source.c_str(), &st) != 0)
        return Failed("cannot read the source: " + std::string(std::strerror(errno)));
    if (S_ISDIR(st.st_mode)) return Failed("the source is a folder");
    if (::access(request.destination.c_str(), F_OK) == 0) {
        if (SameFile(request.source, request.destination))
            return Failed("the destination is the source file itself");
        if (!request.overwrite)
            return {ConversionOutcome::Status::Skipped, "the destination exists (use --overwrite to replace it)", {}};
    }

    const ClassIdentity& encoderClass = EncoderForPath(request.destination);
    ComPtr<IKivAudioEncoder> encoder;
    HRESULT hr = CoCreateInstance(encoderClass.clsid, nullptr, CLSCTX_ALL, IID_IKivAudioEncoder, encoder.put_void());
    if (FAILED(hr)) return Failed(std::string(encoderClass.name) + ": " + DescribeResult(hr));
    ComPtr<IKivAudioConverter> converter;
    hr = CoCreateInstance(kClassAudioConverter.clsid, nullptr, CLSCTX_ALL, IID_IKivAudioConverter, converter.put_void());
    if (FAILED(hr)) return Failed(std::string(kClassAudioConverter.name) + ": " + DescribeResult(hr));

    // A mode the format does not offer is not an error: the encoder keeps
    // its default and the caller is told.
    std::string warning = ApplyOutputMode(encoder.get(), request.mode, request.value);

    Bstr source(FromUtf8(request.source));
    hr = converter->CreateDecoderFor(source.get());
    if (FAILED(hr)) return Failed("cannot open the source: " + ErrorText(hr));

    const std::string temporary = TemporaryName(request.destination);
    encoder->put_AddExtension(0);
    encoder->put_OverwritePrompt(0);
    Bstr target(FromUtf8(temporary));
    hr = encoder->Open(target.get());
    if (FAILED(hr)) return Failed("cannot create the destination: " + ErrorText(hr));
    struct Cleanup {
        const std::string& path;
        bool keep = false;
        ~Cleanup() {
            if (!keep) ::unlink(path.c_str());
        }
    } cleanup{temporary};

    converter->put_Destination(encoder.get());
    converter->put_KeepTags(request.keepTags ? VARIANT_TRUE : VARIANT_FALSE);

    bool finished = false;
    std::string error;
    auto sink = DispatchSink::Create(DIID_IKivAudioConverterEvents, [&](DISPID id, DISPPARAMS& p) {
        switch (id) {
            case DISPID_OnError: error = ToUtf8(EventArgText(p, 0)); break;
            case DISPID_OnConvProgress:
                if (progress) progress(EventArgLong(p, 0));
                break;
            case DISPID_OnConvFinish: finished = true; break;
            default: break;
        }
    });
    EventConnection events;
    events.Connect(converter.get(), DIID_IKivAudioConverterEvents, sink.get());

    hr = converter->Go();
    if (FAILED(hr)) return Failed("cannot start the conversion: " + ErrorText(hr));
    while (!finished) {
        MSG m;
        if (!GetMessage(&m, nullptr, 0, 0)) break;
        DispatchMessage(&m);
    }
    events.Disconnect();
    // The codecs are closed by the converter at the end of a good run; after
    // a failure they are still open, and letting them go closes them.
    converter.reset();
    encoder.reset();
    if (!error.empty()) return Failed(error);

    int flags = request.overwrite ? 0 : RENAME_NOREPLACE;
    if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, request.destination.c_str(), flags) != 0) {
        if (errno == EEXIST)
            return {ConversionOutcome::Status::Skipped, "the destination appeared meanwhile; it was left as it is", {}};
        return Failed("cannot move the result into place: " + std::string(std::strerror(errno)));
    }
    cleanup.keep = true;
    return {ConversionOutcome::Status::Done, {}, warning};
}

}  // namespace kiv::app
