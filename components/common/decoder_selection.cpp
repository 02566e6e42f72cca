#include "components/common/decoder_selection.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "components/common/component.h"
#include "components/common/wav_source_reader.h"
#include "platform/com/class_registry.h"
#include "platform/com/error_info.h"
#include "platform/system/pipe.h"
#include "platform/system/text.h"

namespace kiv {

namespace {

bool EndsWithNoCase(std::u16string_view name, std::u16string_view ext) {
    return name.size() > ext.size() && EqualsNoCase(name.substr(name.size() - ext.size()), ext);
}

bool IsMpegAudioFrameHeader(const std::uint8_t* h) {
    return h[0] == 0xFF && (h[1] & 0xE0) == 0xE0 &&  // frame sync
           ((h[1] >> 3) & 3) != 1 &&                  // a defined MPEG version
           ((h[1] >> 1) & 3) != 0 &&                  // a defined layer
           (h[2] >> 4) != 15 &&                       // a defined bitrate
           ((h[2] >> 2) & 3) != 3;                    // a defined sample rate
}

bool IsId3v2Header(const std::uint8_t* head, long got) {
    return got >= 10 && std::memcmp(head, "ID3", 3) == 0 && head[3] != 0xFF && head[4] != 0xFF;
}

}  // namespace

std::uint64_t Id3v2TagLength(const std::uint8_t* head, long got) {
    if (!IsId3v2Header(head, got)) return 0;
    std::uint64_t body = 0;
    for (int i = 6; i < 10; ++i) {
        if (head[i] & 0x80) return 0;  // the size is synchsafe: 7 bits a byte
        body = body << 7 | head[i];
    }
    const bool footer = head[3] >= 4 && (head[5] & 0x10);
    return 10 + body + (footer ? 10 : 0);
}

ContentKind SniffContent(const std::string& path) {
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) return ContentKind::unknown;
    // An Ogg page header is 27 bytes plus its segment table (one segment
    // for a stream's first page), then the first packet's signature.
    std::array<std::uint8_t, 36> head{};
    const long got = ReadFull(fd.get(), head.data(), head.size());
    static constexpr std::uint8_t kAsfHeader[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                                    0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
    if (got >= 16 && std::memcmp(head.data(), kAsfHeader, 16) == 0) return ContentKind::asf;
    if (got >= 12 && std::memcmp(head.data(), "RIFF", 4) == 0 && std::memcmp(head.data() + 8, "WAVE", 4) == 0)
        return ContentKind::wave;
    if (got >= 4 && std::memcmp(head.data(), "fLaC", 4) == 0) return ContentKind::flac;
    if (got >= 4 && std::memcmp(head.data(), "OggS", 4) == 0) {
        const std::size_t packet = 27 + std::size_t(got > 26 ? head[26] : 0);
        if (packet + 8 <= std::size_t(got) && std::memcmp(head.data() + packet, "OpusHead", 8) == 0)
            return ContentKind::opus;
        return ContentKind::ogg;
    }
    if (IsId3v2Header(head.data(), got)) {
        // Mostly MPEG audio follows an ID3v2 tag, but some taggers put one in
        // front of a FLAC stream too. Where the tag ends is taken from its
        // header only within the file; a tag that claims more is MP3's.
        const std::uint64_t tagBytes = Id3v2TagLength(head.data(), got);
        struct stat st;
        if (tagBytes > 0 && ::fstat(fd.get(), &st) == 0 && tagBytes + 4 <= std::uint64_t(st.st_size)) {
            std::array<std::uint8_t, 4> after{};
            if (::pread(fd.get(), after.data(), after.size(), off_t(tagBytes)) == long(after.size()) &&
                std::memcmp(after.data(), "fLaC", 4) == 0)
                return ContentKind::flac;
        }
        return ContentKind::mpeg;
    }
    if (got >= 4 && IsMpegAudioFrameHeader(head.data())) return ContentKind::mpeg;
    return ContentKind::unknown;
}

bool SelectDecoderClass(std::u16string_view name, CLSID& clsid) {
    if (name.size() <= 4) return false;
    // What the file holds decides over its name: a file can carry a wrong
    // extension or none. The name decides only when the bytes say nothing
    // (an unreadable file, or audio behind leading junk).
    ContentKind kind = SniffContent(ToUtf8(name));
    if (kind == ContentKind::unknown) {
        struct Row {
            const char16_t* ext;
            ContentKind kind;
        };
        // ".wave" is a WAV file too: the application lists such files as
        // sources and converts them, so they are looked into like ".wav".
        static const Row byName[] = {
            {u".wma", ContentKind::asf},  {u".mp3", ContentKind::mpeg}, {u".ogg", ContentKind::ogg},
            {u".oga", ContentKind::ogg},  {u".wav", ContentKind::wave}, {u".wave", ContentKind::wave},
            {u".flac", ContentKind::flac}, {u".opus", ContentKind::opus},
        };
        for (const Row& r : byName) {
            if (EndsWithNoCase(name, r.ext)) {
                kind = r.kind;
                break;
            }
        }
    }
    switch (kind) {
        case ContentKind::asf: clsid = kClassWmaDecoder.clsid; return true;
        case ContentKind::mpeg: clsid = kClassMp3Decoder.clsid; return true;
        case ContentKind::ogg: clsid = kClassVorbisDecoder.clsid; return true;
        case ContentKind::flac: clsid = kClassFlacDecoder.clsid; return true;
        case ContentKind::opus: clsid = kClassOpusDecoder.clsid; return true;
        case ContentKind::unknown: return false;
        case ContentKind::wave: break;
    }
    WORD tag = 0;
    if (!ReadWaveFormatTag(ToUtf8(name), tag)) return false;
    // Float samples are PCM for every purpose here: the WAV decoder delivers
    // them as they are and the converter reduces them where needed.
    if (tag == WAVE_FORMAT_PCM || tag == WAVE_FORMAT_IEEE_FLOAT) clsid = kClassWaveDecoder.clsid;
    else if (tag == WAVE_FORMAT_MPEGLAYER3) clsid = kClassMp3Decoder.clsid;
    else return false;
    return true;
}

HRESULT CreateDecoderFor(const CLSID& owner, BSTR fileName, ComPtr<IKivAudioDecoder>& decoder) {
    decoder.reset();
    CLSID clsid;
    if (!SelectDecoderClass(BstrView(fileName), clsid)) return ReportComponentError(owner, kNoDecoderText);
    ComPtr<IKivAudioDecoder> created;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IKivAudioDecoder, created.put_void());
    if (FAILED(hr)) return hr;
    hr = created->Open(fileName);
    if (FAILED(hr)) {
        // Letting the decoder go runs its own clean-up, which may leave error
        // info of its own or clear the thread's; the caller is owed the text
        // of the failed Open.
        ComPtr<IErrorInfo> info;
        GetErrorInfo(0, info.put());
        created.reset();
        SetErrorInfo(0, info.get());
        return hr;
    }
    decoder = std::move(created);
    return S_OK;
}

}  // namespace kiv
