// The player's dual interface, its events and its helper-window messages.
#pragma once

#include "components/common/interfaces.h"

namespace kiv {

struct IKivAudioPlayer : IDispatch {
    virtual HRESULT Start() = 0;
    virtual HRESULT Pause() = 0;
    virtual HRESULT Resume() = 0;
    virtual HRESULT Seek(LONG Position) = 0;
    virtual HRESULT Stop() = 0;
    virtual HRESULT CreateDecoderFor(BSTR szFilename) = 0;
    virtual HRESULT get_Decoder(IKivAudioDecoder** value) = 0;
    virtual HRESULT put_Decoder(IKivAudioDecoder* value) = 0;
    virtual HRESULT get_Volume(float* value) = 0;
    virtual HRESULT put_Volume(float value) = 0;

protected:
    ~IKivAudioPlayer() = default;
};

template <>
struct IidOf<IKivAudioPlayer> {
    static constexpr const IID& value = IID_IKivAudioPlayer;
};

extern const DispInterface kDispAudioPlayer;

enum : DISPID {
    DISPID_OnPlayProgress = 1,
    DISPID_OnPlayError = 2,
    DISPID_OnPlayStart = 3,
    DISPID_OnPlayFinish = 4,
    DISPID_OnPlayPosition = 5,
};

enum : UINT {
    WMH_PLAY_PROGRESS = WM_USER + 101,
    WMH_PLAY_ERROR = WM_USER + 102,
    WMH_PLAY_FINISH = WM_USER + 104,
    WMH_PLAY_POSITION = WM_USER + 105,
};

}  // namespace kiv
