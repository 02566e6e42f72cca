#include "components/common/interfaces.h"

namespace kiv {
namespace {

constexpr WORD M = DISPATCH_METHOD, G = DISPATCH_PROPERTYGET, P = DISPATCH_PROPERTYPUT;

using T = IAudioTag;
const DispMember kTagMembers[] = {
    {u"Title", 1, G, InvokeGet<&T::get_Title>},     {u"Title", 1, P, InvokeCall<&T::put_Title>},
    {u"Artist", 2, G, InvokeGet<&T::get_Artist>},   {u"Artist", 2, P, InvokeCall<&T::put_Artist>},
    {u"Album", 3, G, InvokeGet<&T::get_Album>},     {u"Album", 3, P, InvokeCall<&T::put_Album>},
    {u"Year", 4, G, InvokeGet<&T::get_Year>},       {u"Year", 4, P, InvokeCall<&T::put_Year>},
    {u"Genre", 5, G, InvokeGet<&T::get_Genre>},     {u"Genre", 5, P, InvokeCall<&T::put_Genre>},
    {u"TrackNo", 6, G, InvokeGet<&T::get_TrackNo>}, {u"TrackNo", 6, P, InvokeCall<&T::put_TrackNo>},
    {u"Comment", 7, G, InvokeGet<&T::get_Comment>}, {u"Comment", 7, P, InvokeCall<&T::put_Comment>},
};

using E = IKivAudioEncoder;
const DispMember kEncoderMembers[] = {
    {u"Open", 1, M, InvokeCall<&E::Open>},
    {u"OpenHandle", 2, M, InvokeCall<&E::OpenHandle>},
    {u"SetInputFormat", 3, M, InvokeCall<&E::SetInputFormat>},
    {u"SetInputFormatWFX", 4, M, InvokeCall<&E::SetInputFormatWFX>},
    {u"SetOutputFormatVBR", 5, M, InvokeCall<&E::SetOutputFormatVBR>},
    {u"SetOutputFormatABR", 6, M, InvokeCall<&E::SetOutputFormatABR>},
    {u"SetOutputFormatCBR", 7, M, InvokeCall<&E::SetOutputFormatCBR>},
    {u"Write", 8, M, InvokeCall<&E::Write>},
    {u"Close", 9, M, InvokeCall<&E::Close>},
    {u"Filename", 10, G, InvokeGet<&E::get_Filename>},
    {u"AddExtension", 11, G, InvokeGet<&E::get_AddExtension>},
    {u"AddExtension", 11, P, InvokeCall<&E::put_AddExtension>},
    {u"TagData", 12, G, InvokeGet<&E::get_TagData>},
    {u"OverwritePrompt", 13, G, InvokeGet<&E::get_OverwritePrompt>},
    {u"OverwritePrompt", 13, P, InvokeCall<&E::put_OverwritePrompt>},
    {u"EncodeFromWave", 15, M, InvokeCall<&E::EncodeFromWave>},
    {u"EncodeFromWaveSync", 16, M, InvokeCall<&E::EncodeFromWaveSync>},
};

using D = IKivAudioDecoder;
const DispMember kDecoderMembers[] = {
    {u"Open", 1, M, InvokeCall<&D::Open>},
    {u"OpenHandle", 2, M, InvokeCall<&D::OpenHandle>},
    {u"Position", 3, G, InvokeGet<&D::get_Position>},
    {u"Position", 3, P, InvokeCall<&D::put_Position>},
    {u"Format", 4, G, InvokeGet<&D::get_Format>},
    {u"Bitrate", 5, G, InvokeGet<&D::get_Bitrate>},
    {u"Duration", 6, G, InvokeGet<&D::get_Duration>},
    {u"TagData", 7, G, InvokeGet<&D::get_TagData>},
    {u"Filename", 9, G, InvokeGet<&D::get_Filename>},
    {u"Seek", 10, M, InvokeCall<&D::Seek>},
    {u"Read", 11, M, InvokeCall<&D::Read>},
    {u"Close", 12, M, InvokeCall<&D::Close>},
};

using C = IKivAudioConverter;
const DispMember kConverterMembers[] = {
    {u"Source", 1, G, InvokeGet<&C::get_Source>},
    {u"Source", 1, P, InvokeCall<&C::put_Source>},
    {u"Destination", 2, G, InvokeGet<&C::get_Destination>},
    {u"Destination", 2, P, InvokeCall<&C::put_Destination>},
    {u"KeepTags", 3, G, InvokeGet<&C::get_KeepTags>},
    {u"KeepTags", 3, P, InvokeCall<&C::put_KeepTags>},
    {u"OpenDestination", 4, M, InvokeCall<&C::OpenDestination>},
    {u"Go", 5, M, InvokeCall<&C::Go>},
    {u"GoSync", 6, M, InvokeCall<&C::GoSync>},
    {u"CancelConversion", 7, M, InvokeCall<&C::CancelConversion>},
    {u"CreateDecoderFor", 8, M, InvokeCall<&C::CreateDecoderFor>},
};

}  // namespace

const DispInterface kDispAudioTag{&IID_IAudioTag, u"IAudioTag", kTagMembers};
const DispInterface kDispAudioEncoder{&IID_IKivAudioEncoder, u"IKivAudioEncoder", kEncoderMembers};
const DispInterface kDispAudioDecoder{&IID_IKivAudioDecoder, u"IKivAudioDecoder", kDecoderMembers};
const DispInterface kDispAudioConverter{&IID_IKivAudioConverter, u"IKivAudioConverter", kConverterMembers};

}  // namespace kiv
