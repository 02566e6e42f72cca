// The speaker volume of the system mixer, as the player's Volume uses it.
//
// Where the control comes from:
//   KIV_SOUND=null            a simulated control (range 0..65535, shared by
//                             the whole process, starting at the maximum),
//                             so that nothing run against the null device can
//                             change the real mixer; with KIV_SOUND_MIXER=none
//                             there is no control at all.
//   otherwise                 the ALSA simple-mixer element "Master" of the
//                             default card, else "PCM"; none when neither
//                             exists or has a playback volume.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/com/types.h"

namespace kiv::sound {

inline constexpr const char* kMixerVariable = "KIV_SOUND_MIXER";

class SpeakerMixer {
public:
    class Control;

    // The control the environment selects (see above).
    static SpeakerMixer OpenDefault();
    // The first of `elements` on an ALSA card that has a playback volume.
    static SpeakerMixer OpenAlsa(const std::string& card, const std::vector<std::string>& elements);
    // The process-wide simulated control.
    static SpeakerMixer OpenSimulated();
    // No control.
    SpeakerMixer();

    SpeakerMixer(SpeakerMixer&&) noexcept;
    SpeakerMixer& operator=(SpeakerMixer&&) noexcept;
    ~SpeakerMixer();

    bool Available() const { return control_ != nullptr; }
    // The element's name ("Master", "PCM", "simulated"); empty without one.
    std::string Name() const;
    long Minimum() const;
    long Maximum() const;
    // Raw control values; false without a control or when the mixer fails.
    bool GetValue(long& value) const;
    bool SetValue(long value);

    // (current - minimum) / (maximum - minimum); 1.0 without a control.
    float Level() const;
    // Values below 0 count as 0, above 1 as 1; sets minimum + truncate(
    // (maximum - minimum) * level). S_FALSE without a control (nothing
    // changes), E_INVALIDARG for NaN, E_FAIL when the mixer refuses.
    HRESULT SetLevel(float level);

private:
    explicit SpeakerMixer(std::unique_ptr<Control> control);
    std::unique_ptr<Control> control_;
};

}  // namespace kiv::sound
