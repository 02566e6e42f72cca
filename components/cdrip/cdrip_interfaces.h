// The dual interfaces of the CD extraction control (KIVCDRIPLib): the
// control, its drives, tracks and CDDB records, and the three collections.
// Member order is the vtable order clients compile against; the tables in
// cdrip_dispatch.cpp give the same members their names and dispids.
//
// Additions beyond the classic interface, at dispids no classic client
// uses: IKivCDRipper::InProgress [11] (an extraction run has not finished
// posting its events yet), IDrive::DiscId [16] (the freedb disc id of the
// disc in the drive) and ITrack::StartFrame [9] (first frame of the track).
// They let a host without a window loop know when a run is over and show
// a table of contents. For verified rips: IDrive::ReadOffset [17] (the
// drive's read offset correction in samples, applied to every extraction),
// IDrive::AccurateRipId [18] (the disc's AccurateRip database file name)
// and ITrack::CRC32 [10], AccurateRipV1 [11], AccurateRipV2 [12] (the
// checksums of the track's last complete extraction from this disc).
#pragma once

#include "components/common/interfaces.h"

namespace kiv {

inline constexpr IID IID_IKivCDRipper = MakeGuid("{5B0C3A51-6E2D-4C8B-9D3F-1A7E42C90B11}");
inline constexpr IID DIID_IKivCDRipperEvents = MakeGuid("{5B0C3A52-6E2D-4C8B-9D3F-1A7E42C90B11}");
inline constexpr IID IID_IDrive = MakeGuid("{5B0C3A53-6E2D-4C8B-9D3F-1A7E42C90B11}");
inline constexpr IID IID_ITrack = MakeGuid("{5B0C3A54-6E2D-4C8B-9D3F-1A7E42C90B11}");
inline constexpr IID IID_ICDDBRecord = MakeGuid("{5B0C3A55-6E2D-4C8B-9D3F-1A7E42C90B11}");
inline constexpr IID IID_IDrivesCollection = MakeGuid("{5B0C3A56-6E2D-4C8B-9D3F-1A7E42C90B11}");
inline constexpr IID IID_ITracksCollection = MakeGuid("{5B0C3A57-6E2D-4C8B-9D3F-1A7E42C90B11}");
inline constexpr IID IID_ICDDBRecordsCollection = MakeGuid("{5B0C3A58-6E2D-4C8B-9D3F-1A7E42C90B11}");
inline constexpr IID IID_IEnumVARIANT = MakeGuid("{00020404-0000-0000-C000-000000000046}");

// Events of _IKivCDRipperEvents.
enum : DISPID {
    DISPID_OnProgress = 1,
    DISPID_OnExtractionStart = 2,
    DISPID_OnExtractionEnd = 3,
    DISPID_OnExtractionError = 4,
    DISPID_OnJitterDetected = 5,
    DISPID_OnDiskChanged = 6,
};

constexpr DISPID DISPID_VALUE = 0;
constexpr DISPID DISPID_NEWENUM = -4;

// Helper-window messages of the control.
enum : UINT {
    WMH_CD_DISK_CHANGED = WM_USER + 101,
    WMH_CD_EXTRACTION_START = WM_USER + 102,
    WMH_CD_EXTRACTION_END = WM_USER + 103,
    WMH_CD_EXTRACTION_ERROR = WM_USER + 104,
    WMH_CD_JITTER = WM_USER + 105,
    WMH_CD_PROGRESS = WM_USER + 106,
    WMH_CD_OVERWRITE_QUERY = WM_USER + 200,
};

struct IEnumVARIANT : IUnknown {
    virtual HRESULT Next(ULONG count, VARIANT* items, ULONG* fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumVARIANT** copy) = 0;

protected:
    ~IEnumVARIANT() = default;
};

struct ITrack;
struct IDrive;
struct ICDDBRecord;

struct ICDDBRecord : IDispatch {
    virtual HRESULT get_Description(BSTR* value) = 0;
    virtual HRESULT SetActive() = 0;
    virtual HRESULT get_RawData(BSTR* value) = 0;

protected:
    ~ICDDBRecord() = default;
};

struct ICDDBRecordsCollection : IDispatch {
    virtual HRESULT get_Count(LONG* value) = 0;
    virtual HRESULT get_Item(LONG index, ICDDBRecord** value) = 0;
    virtual HRESULT get__NewEnum(IUnknown** value) = 0;

protected:
    ~ICDDBRecordsCollection() = default;
};

struct ITrack : IDispatch {
    virtual HRESULT get_Duration(LONG* value) = 0;
    virtual HRESULT get_Size(LONG* value) = 0;
    virtual HRESULT get_IsAudio(VARIANT_BOOL* value) = 0;
    virtual HRESULT ExtractToWav(BSTR szFilename) = 0;
    virtual HRESULT ExtractToEncoder(BSTR szFilename, VARIANT_BOOL bWriteTag) = 0;
    virtual HRESULT QueueExtractToWav(BSTR szFilename) = 0;
    virtual HRESULT QueueExtractToEncoder(BSTR szFilename, VARIANT_BOOL bWriteTag) = 0;
    virtual HRESULT GenerateFilename(BSTR szTemplate, BSTR* value) = 0;
    virtual HRESULT get_StartFrame(LONG* value) = 0;
    virtual HRESULT get_CRC32(LONG* value) = 0;
    virtual HRESULT get_AccurateRipV1(LONG* value) = 0;
    virtual HRESULT get_AccurateRipV2(LONG* value) = 0;

protected:
    ~ITrack() = default;
};

struct ITracksCollection : IDispatch {
    virtual HRESULT get_Count(LONG* value) = 0;
    virtual HRESULT get_Item(LONG index, ITrack** value) = 0;
    virtual HRESULT get__NewEnum(IUnknown** value) = 0;

protected:
    ~ITracksCollection() = default;
};

struct IDrive : IDispatch {
    virtual HRESULT get_Name(BSTR* value) = 0;
    virtual HRESULT get_Tracks(ITracksCollection** value) = 0;
    virtual HRESULT OpenTray() = 0;
    virtual HRESULT CloseTray() = 0;
    virtual HRESULT Eject() = 0;
    virtual HRESULT SetReadSpeed(LONG Speed) = 0;
    virtual HRESULT get_CDDBRecords(ICDDBRecordsCollection** value) = 0;
    virtual HRESULT Refresh() = 0;
    virtual HRESULT get_AutoRefresh(VARIANT_BOOL* value) = 0;
    virtual HRESULT put_AutoRefresh(VARIANT_BOOL value) = 0;
    virtual HRESULT LoadCDDBData() = 0;
    virtual HRESULT HasAudioCD(VARIANT_BOOL* value) = 0;
    virtual HRESULT GetTrackNumber(LONG* dwTrackNumber) = 0;
    virtual HRESULT GetTrack(LONG dwNumber, ITrack** lpTrack) = 0;
    virtual HRESULT GetCDDBRecordNumber(LONG* value) = 0;
    virtual HRESULT GetCDDBRecord(LONG dwNumber, ICDDBRecord** value) = 0;
    virtual HRESULT get_DiscId(BSTR* value) = 0;
    virtual HRESULT get_ReadOffset(LONG* value) = 0;
    virtual HRESULT put_ReadOffset(LONG value) = 0;
    virtual HRESULT get_AccurateRipId(BSTR* value) = 0;

protected:
    ~IDrive() = default;
};

struct IDrivesCollection : IDispatch {
    virtual HRESULT get_Count(LONG* value) = 0;
    virtual HRESULT get_Item(LONG index, IDrive** value) = 0;
    virtual HRESULT get__NewEnum(IUnknown** value) = 0;

protected:
    ~IDrivesCollection() = default;
};

struct IKivCDRipper : IDispatch {
    virtual HRESULT get_Drives(IDrivesCollection** value) = 0;
    virtual HRESULT CancelExtraction() = 0;
    virtual HRESULT get_Encoder(IKivAudioEncoder** value) = 0;
    virtual HRESULT put_Encoder(IKivAudioEncoder* value) = 0;
    virtual HRESULT get_JitterCorrection(VARIANT_BOOL* value) = 0;
    virtual HRESULT put_JitterCorrection(VARIANT_BOOL value) = 0;
    virtual HRESULT RunQueue() = 0;
    virtual HRESULT ClearQueue() = 0;
    virtual HRESULT GetDriveNumber(LONG* dwDriveNumber) = 0;
    virtual HRESULT GetDrive(LONG dwNumber, IDrive** lpDrive) = 0;
    virtual HRESULT get_OverwritePrompt(VARIANT_BOOL* value) = 0;
    virtual HRESULT put_OverwritePrompt(VARIANT_BOOL value) = 0;
    virtual HRESULT get_InProgress(VARIANT_BOOL* value) = 0;

protected:
    ~IKivCDRipper() = default;
};

template <>
struct IidOf<IEnumVARIANT> {
    static constexpr const IID& value = IID_IEnumVARIANT;
};
template <>
struct IidOf<ICDDBRecord> {
    static constexpr const IID& value = IID_ICDDBRecord;
};
template <>
struct IidOf<ICDDBRecordsCollection> {
    static constexpr const IID& value = IID_ICDDBRecordsCollection;
};
template <>
struct IidOf<ITrack> {
    static constexpr const IID& value = IID_ITrack;
};
template <>
struct IidOf<ITracksCollection> {
    static constexpr const IID& value = IID_ITracksCollection;
};
template <>
struct IidOf<IDrive> {
    static constexpr const IID& value = IID_IDrive;
};
template <>
struct IidOf<IDrivesCollection> {
    static constexpr const IID& value = IID_IDrivesCollection;
};
template <>
struct IidOf<IKivCDRipper> {
    static constexpr const IID& value = IID_IKivCDRipper;
};

extern const DispInterface kDispCdRipper;
extern const DispInterface kDispDrive;
extern const DispInterface kDispTrack;
extern const DispInterface kDispCddbRecord;
extern const DispInterface kDispDrivesCollection;
extern const DispInterface kDispTracksCollection;
extern const DispInterface kDispCddbRecordsCollection;

}  // namespace kiv
