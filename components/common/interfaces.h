// The dual interfaces of the audio components. The member order is the
// vtable order every client is compiled against; the dispatch tables in
// dispatch_tables.cpp give the same members their names and dispids.
#pragma once

#include "components/common/identities.h"
#include "components/common/tag_record.h"
#include "platform/com/dispatch.h"

namespace kiv {

struct IAudioTag : IDispatch {
    virtual HRESULT get_Title(BSTR* value) = 0;
    virtual HRESULT put_Title(BSTR value) = 0;
    virtual HRESULT get_Artist(BSTR* value) = 0;
    virtual HRESULT put_Artist(BSTR value) = 0;
    virtual HRESULT get_Album(BSTR* value) = 0;
    virtual HRESULT put_Album(BSTR value) = 0;
    virtual HRESULT get_Year(BSTR* value) = 0;
    virtual HRESULT put_Year(BSTR value) = 0;
    virtual HRESULT get_Genre(BSTR* value) = 0;
    virtual HRESULT put_Genre(BSTR value) = 0;
    virtual HRESULT get_TrackNo(BSTR* value) = 0;
    virtual HRESULT put_TrackNo(BSTR value) = 0;
    virtual HRESULT get_Comment(BSTR* value) = 0;
    virtual HRESULT put_Comment(BSTR value) = 0;

protected:
    ~IAudioTag() = default;
};

struct IKivAudioEncoder : IDispatch {
    virtual HRESULT Open(BSTR szFilename) = 0;
    virtual HRESULT OpenHandle(void* hSource) = 0;
    virtual HRESULT SetInputFormat(LONG nChannels, LONG nSamplesPerSec, LONG nBitsPerSample) = 0;
    virtual HRESULT SetInputFormatWFX(WAVEFORMATEX* pWfx) = 0;
    virtual HRESULT SetOutputFormatVBR(float fQuality) = 0;
    virtual HRESULT SetOutputFormatABR(LONG nAvgBitrate) = 0;
    virtual HRESULT SetOutputFormatCBR(LONG nBitrate) = 0;
    virtual HRESULT Write(BYTE* data, LONG count) = 0;
    virtual HRESULT Close() = 0;
    virtual HRESULT get_Filename(BSTR* value) = 0;
    virtual HRESULT get_AddExtension(VARIANT_BOOL* value) = 0;
    virtual HRESULT put_AddExtension(VARIANT_BOOL value) = 0;
    virtual HRESULT get_TagData(IAudioTag** value) = 0;
    virtual HRESULT get_OverwritePrompt(VARIANT_BOOL* value) = 0;
    virtual HRESULT put_OverwritePrompt(VARIANT_BOOL value) = 0;
    virtual HRESULT EncodeFromWave(BSTR waveFile) = 0;
    virtual HRESULT EncodeFromWaveSync(BSTR waveFile) = 0;

protected:
    ~IKivAudioEncoder() = default;
};

struct IKivAudioDecoder : IDispatch {
    virtual HRESULT Open(BSTR szFilename) = 0;
    virtual HRESULT OpenHandle(void* hSource) = 0;
    virtual HRESULT get_Position(LONG* value) = 0;
    virtual HRESULT put_Position(LONG value) = 0;
    virtual HRESULT get_Format(WAVEFORMATEX** value) = 0;
    virtual HRESULT get_Bitrate(LONG* value) = 0;
    virtual HRESULT get_Duration(LONG* value) = 0;
    virtual HRESULT get_TagData(IAudioTag** value) = 0;
    virtual HRESULT get_Filename(BSTR* value) = 0;
    virtual HRESULT Seek(LONG Position) = 0;
    virtual HRESULT Read(BYTE* data, LONG count, LONG* read) = 0;
    virtual HRESULT Close() = 0;

protected:
    ~IKivAudioDecoder() = default;
};

// A decoder reads over damage in its source rather than fail the whole file;
// this says what it passed over, for a client that wants to tell the user.
// It is optional (query for it) and lives beside the decoder interface, so
// that interface and its dispids stay as every client knows them.
struct IKivDecodeReport : IUnknown {
    // The account of the file open now or closed last (cleared by the next
    // Open): an empty text when the source read whole, else one line for a
    // log, such as "Source damaged: about 1.2 s skipped.".
    virtual HRESULT get_DamageNote(BSTR* note) = 0;

protected:
    ~IKivDecodeReport() = default;
};

// Optional beside IAudioTag: the pictures of the tag. Only the tag object of
// a format that carries pictures answers it, so a client that finds it on
// both sides of a conversion copies the pictures, and one that does not
// leaves them out. A decoder's holds what its file carries once opened; an
// encoder writes what it holds when it writes its tags (at Open), like the
// seven fields. The methods are called from the object's creating thread;
// the picture travels as a plain structure, the modules sharing one C++
// runtime in-process.
struct IKivTagPictures : IUnknown {
    virtual HRESULT get_PictureCount(LONG* count) = 0;
    // A copy of picture `index`, 0-based, in file order.
    virtual HRESULT GetPicture(LONG index, TagPicture* picture) = 0;
    // Appends a copy; E_INVALIDARG for a picture without data or larger
    // than kMaxTagPictureBytes (a caller that wants to say so logs it).
    virtual HRESULT AddPicture(const TagPicture* picture) = 0;
    virtual HRESULT ClearPictures() = 0;

protected:
    ~IKivTagPictures() = default;
};

// Optional beside IAudioTag, like the pictures: named text fields beyond the
// seven ("MUSICBRAINZ_ALBUMID", "MUSICBRAINZ_TRACKID"), only the names of
// kTagFieldPlaces, which every format that answers has a place for. One
// value per name; several values travel joined by line feeds, as in the
// seven. A decoder's hold what its file carries once opened; an encoder
// writes what it holds with its tags.
struct IKivTagFields : IUnknown {
    virtual HRESULT get_FieldCount(LONG* count) = 0;
    // Field `index`, 0-based, in the order they were set or read.
    virtual HRESULT GetField(LONG index, BSTR* name, BSTR* value) = 0;
    // Replaces the value of the name (kept in its upper-case form); an empty
    // value removes the field. E_INVALIDARG for a name no format knows.
    virtual HRESULT SetField(BSTR name, BSTR value) = 0;
    virtual HRESULT ClearFields() = 0;

protected:
    ~IKivTagFields() = default;
};

// Optional on the encoders that write ReplayGain values with their tags.
// With measuring on, the encoder measures the loudness of every sample it
// is given (EBU R128) and, when the stream is closed, writes the track's
// gain (against -18 LUFS) and sample peak in its format's usual form,
// replacing any track values it was given as fields. Off by default; the
// setting holds for every stream until changed.
struct IKivReplayGain : IUnknown {
    virtual HRESULT get_MeasureTrackGain(VARIANT_BOOL* value) = 0;
    virtual HRESULT put_MeasureTrackGain(VARIANT_BOOL value) = 0;
    // The values of the stream closed last: gain in dB, peak as a fraction
    // of full scale. S_FALSE (both 0) when none was measured: measuring
    // off, no sample written, or too short or silent to have a loudness.
    virtual HRESULT GetTrackGain(double* gainDb, double* peak) = 0;

protected:
    ~IKivReplayGain() = default;
};

struct IKivAudioConverter : IDispatch {
    virtual HRESULT get_Source(IKivAudioDecoder** value) = 0;
    virtual HRESULT put_Source(IKivAudioDecoder* value) = 0;
    virtual HRESULT get_Destination(IKivAudioEncoder** value) = 0;
    virtual HRESULT put_Destination(IKivAudioEncoder* value) = 0;
    virtual HRESULT get_KeepTags(VARIANT_BOOL* value) = 0;
    virtual HRESULT put_KeepTags(VARIANT_BOOL value) = 0;
    virtual HRESULT OpenDestination() = 0;
    virtual HRESULT Go() = 0;
    virtual HRESULT GoSync() = 0;
    virtual HRESULT CancelConversion() = 0;
    virtual HRESULT CreateDecoderFor(BSTR szFilename) = 0;

protected:
    ~IKivAudioConverter() = default;
};

template <>
struct IidOf<IAudioTag> {
    static constexpr const IID& value = IID_IAudioTag;
};
template <>
struct IidOf<IKivAudioEncoder> {
    static constexpr const IID& value = IID_IKivAudioEncoder;
};
template <>
struct IidOf<IKivAudioDecoder> {
    static constexpr const IID& value = IID_IKivAudioDecoder;
};
template <>
struct IidOf<IKivDecodeReport> {
    static constexpr const IID& value = IID_IKivDecodeReport;
};
template <>
struct IidOf<IKivTagPictures> {
    static constexpr const IID& value = IID_IKivTagPictures;
};
template <>
struct IidOf<IKivTagFields> {
    static constexpr const IID& value = IID_IKivTagFields;
};
template <>
struct IidOf<IKivReplayGain> {
    static constexpr const IID& value = IID_IKivReplayGain;
};
template <>
struct IidOf<IKivAudioConverter> {
    static constexpr const IID& value = IID_IKivAudioConverter;
};

// Dispatch tables: the type information compiled into each module.
extern const DispInterface kDispAudioTag;
extern const DispInterface kDispAudioEncoder;
extern const DispInterface kDispAudioDecoder;
extern const DispInterface kDispAudioConverter;

}  // namespace kiv
