// Writes one audio stream of PCM into a Windows Media Audio file.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/media/header_attributes.h"
#include "platform/media/media_props.h"
#include "platform/media/profile.h"
#include "platform/media/sample_buffer.h"

namespace kiv::media {

// Order of use: SetProfile, SetOutputFilename, input properties and header
// attributes, BeginWriting (creates the file and writes the header),
// AllocateSample / WriteSample any number of times, EndWriting (flushes
// the encoder, completes the file and writes the attributes into its
// header). Nothing touches the file system before BeginWriting.
//
// The profile must hold exactly one audio stream with a 0x161 format, as
// the codec enumeration offers them; the encoder runs at 8 × its
// nAvgBytesPerSec bits per second.
//
// WriteSample may run on another thread than the other calls, but calls
// never overlap: a caller starts writing, hands WriteSample to one thread,
// and ends writing after that thread has stopped.
class Writer {
public:
    // Told of every failure of the output (a full disk, a closed file)
    // from whichever thread ran into it.
    using StatusCallback = std::function<void(Status status, HRESULT hr)>;

    static HRESULT Create(std::unique_ptr<Writer>& out);
    Writer();
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    HRESULT SetProfile(const Profile& profile);
    HRESULT SetOutputFilename(std::u16string_view filename);

    // One input (number 0) once a profile is set.
    HRESULT GetInputCount(DWORD* count) const;
    HRESULT GetInputProps(DWORD input, std::unique_ptr<MediaProps>& out) const;
    // PCM with 1 or 2 channels of 8 or 16 bits; rate and channel count may
    // differ from the stream's, the writer converts.
    HRESULT SetInputProps(DWORD input, const MediaProps& props);

    // File-level header attributes, stored in the file's header at
    // EndWriting with their types, under their own names so other readers
    // show them ("Author" as the artist, "Description" as the comment,
    // "WM/AlbumTitle", "WM/Year"...). SetAttribute replaces the attributes
    // of its name, AddAttribute adds one more (two "Author"s for two
    // artists, a "WM/Picture" per picture); they are accepted until
    // BeginWriting. The store's rules are HeaderAttributes'.
    HRESULT SetAttribute(WORD streamNumber, std::u16string_view name, AttrType type, const BYTE* value,
                         WORD length);
    HRESULT AddAttribute(WORD streamNumber, std::u16string_view name, WORD* index, AttrType type,
                         const BYTE* value, DWORD length);
    // This writer stores the header only at EndWriting, so values known
    // only once the audio is through (its measured loudness) can still be
    // added up to then, as AddAttribute adds them.
    HRESULT AddClosingAttribute(std::u16string_view name, AttrType type, const BYTE* value, DWORD length);
    HRESULT GetAttributeIndices(WORD streamNumber, std::u16string_view name, std::vector<WORD>& indices) const;
    HRESULT GetAttributeByIndexEx(WORD streamNumber, WORD index, std::u16string* name, AttrType* type, BYTE* value,
                                  DWORD* length) const;

    HRESULT BeginWriting();
    HRESULT AllocateSample(DWORD size, std::unique_ptr<SampleBuffer>& out) const;
    // The PCM is taken as one continuous stream: samples follow each other
    // whatever their times say (callers derive the times from byte counts,
    // rounded per block, so honouring them would only add jitter). Bytes
    // of an incomplete sample frame are kept for the next call.
    HRESULT WriteSample(DWORD input, QWORD sampleTime, DWORD flags, const SampleBuffer& sample);
    HRESULT EndWriting();

    // Registration on the writer's file sink.
    HRESULT Advise(StatusCallback callback, DWORD* cookie);
    HRESULT Unadvise(DWORD cookie);

private:
    struct Encoding;

    HRESULT Fail(HRESULT hr);
    HRESULT FailIfOutputBroken();
    HRESULT EncodeFifo(bool final);
    HRESULT EncodeFrame(bool flush);
    HRESULT WriteAttributes();

    std::unique_ptr<Profile> profile_;
    WAVEFORMATEX output_{};
    std::vector<BYTE> outputExtra_;
    WAVEFORMATEX input_{};
    bool inputSet_ = false;
    std::u16string filename_;
    HeaderAttributes attributes_;
    std::unique_ptr<Encoding> enc_;

    std::mutex callbackLock_;
    std::vector<std::pair<DWORD, StatusCallback>> callbacks_;
    DWORD nextCookie_ = 1;
};

}  // namespace kiv::media
