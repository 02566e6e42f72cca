#include "components/player/player_interface.h"

namespace kiv {
namespace {

constexpr WORD M = DISPATCH_METHOD, G = DISPATCH_PROPERTYGET, P = DISPATCH_PROPERTYPUT;

using A = IKivAudioPlayer;
const DispMember kPlayerMembers[] = {
    {u"Start", 1, M, InvokeCall<&A::Start>},
    {u"Pause", 2, M, InvokeCall<&A::Pause>},
    {u"Resume", 3, M, InvokeCall<&A::Resume>},
    {u"Seek", 4, M, InvokeCall<&A::Seek>},
    {u"Stop", 5, M, InvokeCall<&A::Stop>},
    {u"CreateDecoderFor", 6, M, InvokeCall<&A::CreateDecoderFor>},
    {u"Decoder", 7, G, InvokeGet<&A::get_Decoder>},
    {u"Decoder", 7, P, InvokeCall<&A::put_Decoder>},
    {u"Volume", 8, G, InvokeGet<&A::get_Volume>},
    {u"Volume", 8, P, InvokeCall<&A::put_Volume>},
};

}  // namespace

const DispInterface kDispAudioPlayer{&IID_IKivAudioPlayer, u"IKivAudioPlayer", kPlayerMembers};

}  // namespace kiv
