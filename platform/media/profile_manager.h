// Entry point for building profiles: empty profiles and the codec
// enumeration that fills them.
#pragma once

#include <memory>

#include "platform/media/codec_info.h"
#include "platform/media/profile.h"

namespace kiv::media {

class ProfileManager {
public:
    static HRESULT Create(std::unique_ptr<ProfileManager>& out);

    // Only version 9.0 profiles (WMT_VER_9_0) are made.
    HRESULT CreateEmptyProfile(DWORD version, std::unique_ptr<Profile>& out) const;

    // The manager's codec enumeration; its settings belong to this manager.
    CodecInfo& GetCodecInfo() { return codecInfo_; }

private:
    CodecInfo codecInfo_;
};

}  // namespace kiv::media
