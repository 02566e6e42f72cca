// The clock-driven back-end behind KIV_SOUND=null.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/sound/output_engine.h"
#include "platform/sound/wav_capture.h"

namespace kiv::sound {

class NullEngine final : public OutputEngine {
public:
    // The one null engine of the process.
    static std::shared_ptr<NullEngine> Instance();

    SoundBackend Backend() const override { return SoundBackend::Null; }
    void Advance() override;
    void Attach(BufferState& buffer) override;
    void Detach(BufferState& buffer) override;
    void Started(BufferState& buffer) override;
    void Stopped(BufferState& buffer) override;
    DWORD WriteLeadFrames(const BufferState& buffer) const override;

    // These take the mutex themselves.
    void UseCapture(const std::string& path);
    void SetClock(std::function<std::int64_t()> clock);
    void LoseAllBuffers();
    void Flush();

private:
    std::int64_t Now() const;
    void Consume(BufferState& buffer, std::uint64_t frames);
    bool Capturing(const BufferState& buffer) const;
    void FlushPlayed();

    std::vector<BufferState*> buffers_;
    WavCapture capture_;
    std::function<std::int64_t()> clock_;
};

}  // namespace kiv::sound
