#include "components/cdrip/cdrip_interfaces.h"

namespace kiv {
namespace {

constexpr WORD M = DISPATCH_METHOD, G = DISPATCH_PROPERTYGET, P = DISPATCH_PROPERTYPUT;

using R = IKivCDRipper;
const DispMember kRipperMembers[] = {
    {u"Drives", 2, G, InvokeGet<&R::get_Drives>},
    {u"CancelExtraction", 3, M, InvokeCall<&R::CancelExtraction>},
    {u"Encoder", 4, G, InvokeGet<&R::get_Encoder>},
    {u"Encoder", 4, P, InvokeCall<&R::put_Encoder>},
    {u"JitterCorrection", 5, G, InvokeGet<&R::get_JitterCorrection>},
    {u"JitterCorrection", 5, P, InvokeCall<&R::put_JitterCorrection>},
    {u"RunQueue", 6, M, InvokeCall<&R::RunQueue>},
    {u"ClearQueue", 7, M, InvokeCall<&R::ClearQueue>},
    {u"GetDriveNumber", 8, M, InvokeGet<&R::GetDriveNumber>},
    {u"GetDrive", 9, M, InvokeGet<&R::GetDrive>},
    {u"OverwritePrompt", 10, G, InvokeGet<&R::get_OverwritePrompt>},
    {u"OverwritePrompt", 10, P, InvokeCall<&R::put_OverwritePrompt>},
    {u"InProgress", 11, G, InvokeGet<&R::get_InProgress>},
};

using D = IDrive;
const DispMember kDriveMembers[] = {
    {u"Name", 1, G, InvokeGet<&D::get_Name>},
    {u"Tracks", 2, G, InvokeGet<&D::get_Tracks>},
    {u"OpenTray", 3, M, InvokeCall<&D::OpenTray>},
    {u"CloseTray", 4, M, InvokeCall<&D::CloseTray>},
    {u"Eject", 5, M, InvokeCall<&D::Eject>},
    {u"SetReadSpeed", 6, M, InvokeCall<&D::SetReadSpeed>},
    {u"CDDBRecords", 7, G, InvokeGet<&D::get_CDDBRecords>},
    {u"Refresh", 8, M, InvokeCall<&D::Refresh>},
    {u"AutoRefresh", 9, G, InvokeGet<&D::get_AutoRefresh>},
    {u"AutoRefresh", 9, P, InvokeCall<&D::put_AutoRefresh>},
    {u"LoadCDDBData", 10, M, InvokeCall<&D::LoadCDDBData>},
    {u"HasAudioCD", 11, M, InvokeGet<&D::HasAudioCD>},
    {u"GetTrackNumber", 12, M, InvokeGet<&D::GetTrackNumber>},
    {u"GetTrack", 13, M, InvokeGet<&D::GetTrack>},
    {u"GetCDDBRecordNumber", 14, M, InvokeGet<&D::GetCDDBRecordNumber>},
    {u"GetCDDBRecord", 15, M, InvokeGet<&D::GetCDDBRecord>},
    {u"DiscId", 16, G, InvokeGet<&D::get_DiscId>},
    {u"ReadOffset", 17, G, InvokeGet<&D::get_ReadOffset>},
    {u"ReadOffset", 17, P, InvokeCall<&D::put_ReadOffset>},
    {u"AccurateRipId", 18, G, InvokeGet<&D::get_AccurateRipId>},
};

using T = ITrack;
const DispMember kTrackMembers[] = {
    {u"Duration", 1, G, InvokeGet<&T::get_Duration>},
    {u"Size", 2, G, InvokeGet<&T::get_Size>},
    {u"IsAudio", 3, G, InvokeGet<&T::get_IsAudio>},
    {u"ExtractToWav", 4, M, InvokeCall<&T::ExtractToWav>},
    {u"ExtractToEncoder", 5, M, InvokeCall<&T::ExtractToEncoder>},
    {u"QueueExtractToWav", 6, M, InvokeCall<&T::QueueExtractToWav>},
    {u"QueueExtractToEncoder", 7, M, InvokeCall<&T::QueueExtractToEncoder>},
    {u"GenerateFilename", 8, M, InvokeGet<&T::GenerateFilename>},
    {u"StartFrame", 9, G, InvokeGet<&T::get_StartFrame>},
    {u"CRC32", 10, G, InvokeGet<&T::get_CRC32>},
    {u"AccurateRipV1", 11, G, InvokeGet<&T::get_AccurateRipV1>},
    {u"AccurateRipV2", 12, G, InvokeGet<&T::get_AccurateRipV2>},
};

using C = ICDDBRecord;
const DispMember kRecordMembers[] = {
    {u"Description", 1, G, InvokeGet<&C::get_Description>},
    {u"SetActive", 2, M, InvokeCall<&C::SetActive>},
    {u"RawData", 3, G, InvokeGet<&C::get_RawData>},
};

template <class I>
constexpr DispMember kCollectionMembers[] = {
    {u"Item", DISPID_VALUE, WORD(G | M), InvokeGet<&I::get_Item>},
    {u"Count", 1, G, InvokeGet<&I::get_Count>},
    {u"_NewEnum", DISPID_NEWENUM, WORD(G | M), InvokeGet<&I::get__NewEnum>},
};

}  // namespace

const DispInterface kDispCdRipper{&IID_IKivCDRipper, u"IKivCDRipper", kRipperMembers};
const DispInterface kDispDrive{&IID_IDrive, u"IDrive", kDriveMembers};
const DispInterface kDispTrack{&IID_ITrack, u"ITrack", kTrackMembers};
const DispInterface kDispCddbRecord{&IID_ICDDBRecord, u"ICDDBRecord", kRecordMembers};
const DispInterface kDispDrivesCollection{&IID_IDrivesCollection, u"IDrivesCollection",
                                          kCollectionMembers<IDrivesCollection>};
const DispInterface kDispTracksCollection{&IID_ITracksCollection, u"ITracksCollection",
                                          kCollectionMembers<ITracksCollection>};
const DispInterface kDispCddbRecordsCollection{&IID_ICDDBRecordsCollection, u"ICDDBRecordsCollection",
                                               kCollectionMembers<ICDDBRecordsCollection>};

}  // namespace kiv
