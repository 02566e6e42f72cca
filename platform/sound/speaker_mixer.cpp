#include "platform/sound/speaker_mixer.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <string_view>

#include "platform/sound/direct_sound.h"

namespace kiv::sound {

class SpeakerMixer::Control {
public:
    virtual ~Control() = default;
    virtual std::string Name() const = 0;
    virtual long Minimum() const = 0;
    virtual long Maximum() const = 0;
    virtual bool Get(long& value) const = 0;
    virtual bool Set(long value) = 0;
};

namespace {

class SimulatedControl final : public SpeakerMixer::Control {
public:
    static constexpr long kMaximum = 65535;
    std::string Name() const override { return "simulated"; }
    long Minimum() const override { return 0; }
    long Maximum() const override { return kMaximum; }
    bool Get(long& value) const override {
        value = Value().load();
        return true;
    }
    bool Set(long value) override {
        Value().store(std::clamp(value, 0L, kMaximum));
        return true;
    }

private:
    static std::atomic<long>& Value() {
        static std::atomic<long> value{kMaximum};
        return value;
    }
};

struct MixerCloser {
    void operator()(snd_mixer_t* mixer) const { snd_mixer_close(mixer); }
};
using MixerHandle = std::unique_ptr<snd_mixer_t, MixerCloser>;

class AlsaControl final : public SpeakerMixer::Control {
public:
    AlsaControl(MixerHandle mixer, snd_mixer_elem_t* element, std::string name, long minimum, long maximum)
        : mixer_(std::move(mixer)), element_(element), name_(std::move(name)), minimum_(minimum), maximum_(maximum) {}

    std::string Name() const override { return name_; }
    long Minimum() const override { return minimum_; }
    long Maximum() const override { return maximum_; }
    bool Get(long& value) const override {
        // Pick up changes other programs made since the last call.
        snd_mixer_handle_events(mixer_.get());
        const auto channel = snd_mixer_selem_is_playback_mono(element_) ? SND_MIXER_SCHN_MONO
                                                                          : SND_MIXER_SCHN_FRONT_LEFT;
        return snd_mixer_selem_get_playback_volume(element_, channel, &value) == 0;
    }
    bool Set(long value) override {
        return snd_mixer_selem_set_playback_volume_all(element_, std::clamp(value, minimum_, maximum_)) == 0;
    }

private:
    MixerHandle mixer_;
    snd_mixer_elem_t* element_;  // owned by mixer_
    std::string name_;
    long minimum_;
    long maximum_;
};

bool EnvironmentIs(const char* name, std::string_view wanted) {
    const char* value = std::getenv(name);
    if (value == nullptr) return false;
    std::string_view v(value);
    return v.size() == wanted.size() &&
           std::equal(v.begin(), v.end(), wanted.begin(), [](char a, char b) { return std::tolower(a) == b; });
}

}  // namespace

SpeakerMixer::SpeakerMixer() = default;
SpeakerMixer::SpeakerMixer(std::unique_ptr<Control> control) : control_(std::move(control)) {}
SpeakerMixer::SpeakerMixer(SpeakerMixer&&) noexcept = default;
SpeakerMixer& SpeakerMixer::operator=(SpeakerMixer&&) noexcept = default;
SpeakerMixer::~SpeakerMixer() = default;

SpeakerMixer SpeakerMixer::OpenDefault() {
    if (SelectedBackend() == SoundBackend::Null) {
        if (EnvironmentIs(kMixerVariable, "none")) return SpeakerMixer();
        return OpenSimulated();
    }
    return OpenAlsa("default", {"Master", "PCM"});
}

SpeakerMixer SpeakerMixer::OpenSimulated() { return SpeakerMixer(std::make_unique<SimulatedControl>()); }

SpeakerMixer SpeakerMixer::OpenAlsa(const std::string& card, const std::vector<std::string>& elements) {
    snd_mixer_t* raw = nullptr;
    if (snd_mixer_open(&raw, 0) < 0) return SpeakerMixer();
    MixerHandle mixer(raw);
    if (snd_mixer_attach(mixer.get(), card.c_str()) < 0 || snd_mixer_selem_register(mixer.get(), nullptr, nullptr) < 0 ||
        snd_mixer_load(mixer.get()) < 0)
        return SpeakerMixer();
    for (const std::string& name : elements) {
        snd_mixer_selem_id_t* id = nullptr;
        if (snd_mixer_selem_id_malloc(&id) < 0) return SpeakerMixer();
        std::unique_ptr<snd_mixer_selem_id_t, decltype(&snd_mixer_selem_id_free)> idHolder(id, snd_mixer_selem_id_free);
        snd_mixer_selem_id_set_index(id, 0);
        snd_mixer_selem_id_set_name(id, name.c_str());
        snd_mixer_elem_t* element = snd_mixer_find_selem(mixer.get(), id);
        if (element == nullptr || !snd_mixer_selem_has_playback_volume(element)) continue;
        long minimum = 0;
        long maximum = 0;
        // A range without width would make Level divide by zero.
        if (snd_mixer_selem_get_playback_volume_range(element, &minimum, &maximum) < 0 || maximum <= minimum) continue;
        return SpeakerMixer(std::make_unique<AlsaControl>(std::move(mixer), element, name, minimum, maximum));
    }
    return SpeakerMixer();
}

std::string SpeakerMixer::Name() const { return control_ ? control_->Name() : std::string(); }
long SpeakerMixer::Minimum() const { return control_ ? control_->Minimum() : 0; }
long SpeakerMixer::Maximum() const { return control_ ? control_->Maximum() : 0; }

bool SpeakerMixer::GetValue(long& value) const { return control_ && control_->Get(value); }

bool SpeakerMixer::SetValue(long value) { return control_ && control_->Set(value); }

float SpeakerMixer::Level() const {
    long value = 0;
    if (!control_ || !control_->Get(value)) return 1.0f;
    const double span = double(control_->Maximum()) - double(control_->Minimum());
    return static_cast<float>((double(value) - double(control_->Minimum())) / span);
}

HRESULT SpeakerMixer::SetLevel(float level) {
    if (!control_) return S_FALSE;
    if (std::isnan(level)) return E_INVALIDARG;
    const double clamped = std::clamp(static_cast<double>(level), 0.0, 1.0);
    const double span = double(control_->Maximum()) - double(control_->Minimum());
    const long value = control_->Minimum() + static_cast<long>(std::trunc(span * clamped));
    return control_->Set(value) ? S_OK : E_FAIL;
}

}  // namespace kiv::sound
