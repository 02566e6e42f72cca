// Reads Windows Media Audio files (any variant FFmpeg decodes: v1, v2,
// Pro, Lossless) synchronously, delivering decoded 16-bit PCM.
#pragma once

#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/media/byte_stream.h"
#include "platform/media/media_props.h"
#include "platform/media/profile.h"
#include "platform/media/sample_buffer.h"

namespace kiv::media {

struct StreamSelection {
    WORD streamNumber;
    bool selected;
};

// Streams are numbered from 1 in file order; output n is the stream with
// number n + 1. Only audio streams are decoded; one audio stream is read
// at a time (the one GetNextSample asks for; packets of the others are
// passed over). Decoded output is interleaved 16-bit PCM at the stream's
// rate, with more than two channels folded down to stereo.
//
// All members may be called from any thread; they take turns, so a
// SetRange from one thread while another waits in GetNextSample is safe.
class SyncReader {
public:
    static HRESULT Create(std::unique_ptr<SyncReader>& out);
    SyncReader();
    ~SyncReader();
    SyncReader(const SyncReader&) = delete;
    SyncReader& operator=(const SyncReader&) = delete;

    // An open reader is closed first. A source that is not an ASF file
    // gives NS_E_INVALID_DATA; a missing file its system error.
    HRESULT Open(std::u16string_view filename);
    HRESULT OpenStream(std::unique_ptr<ByteStream> stream);
    HRESULT Close();

    // A copy of the file's streams: number, type (audio, video, or
    // GUID_NULL for anything else), bitrate and, for audio, the coded
    // WAVEFORMATEX with its extra bytes.
    HRESULT GetProfile(std::unique_ptr<Profile>& out) const;

    // File-level attributes: "Duration" (QWORD, 100-ns units, all ones
    // when unknown) and every attribute of the header's content
    // description, extended content description and metadata objects
    // ("Title", "Author", "Description", "WM/AlbumTitle", "WM/Picture",
    // ...) with its type, repeated names included, in that order. Same
    // calling conventions as HeaderAttributes.
    HRESULT GetAttributeByName(WORD* streamNumber, std::u16string_view name, AttrType* type, BYTE* value,
                               WORD* length) const;
    HRESULT GetAttributeIndices(WORD streamNumber, std::u16string_view name, std::vector<WORD>& indices) const;
    HRESULT GetAttributeByIndexEx(WORD streamNumber, WORD index, std::u16string* name, AttrType* type, BYTE* value,
                                  DWORD* length) const;

    // Size of the file's data packets, from its header; 0 in a damaged
    // header, whose packets then cannot be told apart.
    DWORD GetPacketSize() const;

    HRESULT GetOutputNumberForStream(WORD streamNumber, DWORD* output) const;
    // The decoded PCM format of an audio output.
    HRESULT GetOutputProps(DWORD output, std::unique_ptr<MediaProps>& out) const;

    // Every stream starts selected.
    HRESULT SetStreamsSelected(std::span<const StreamSelection> selections);
    // Only decompressed samples are delivered: asking for compressed ones
    // gives NS_E_INVALID_REQUEST.
    HRESULT SetReadStreamSamples(WORD streamNumber, bool compressed);

    // Reading restarts at `start` (100-ns units, from the start of the
    // file) and stops after `duration` (0: to the end). The first sample
    // begins exactly at `start`.
    HRESULT SetRange(QWORD start, LONGLONG duration);

    // The next block of PCM of the stream (0: the first selected audio
    // stream) with its time and duration in 100-ns units;
    // NS_E_NO_MORE_SAMPLES at the end of the range.
    HRESULT GetNextSample(WORD streamNumber, std::unique_ptr<SampleBuffer>& sample, QWORD* sampleTime,
                          QWORD* sampleDuration, WORD* sampleStreamNumber = nullptr);

    // Damage read over since the open: packets the demuxer or the decoder
    // could not take, the time they held (as far as the time stamps show),
    // and the first of FFmpeg's own complaints about the data.
    struct Damage {
        bool damaged = false;
        QWORD skippedTime = 0;  // 100-ns units
        std::string firstComplaint;
    };
    Damage GetDamage() const;

private:
    struct State;

    HRESULT OpenLocked(std::unique_ptr<State> state, const char* url);

    mutable std::mutex lock_;
    std::unique_ptr<State> state_;
};

}  // namespace kiv::media
