// Controls of the null device, for tests and demonstrations.
//
// The null device is process-wide: every device created with KIV_SOUND=null
// shares one clock, one set of buffers and one capture file, the way every
// program shares one sound card. The capture file is the one named by
// KIV_SOUND_CAPTURE when the latest null device was created; creating a
// device with the same name keeps appending to it, so a host that releases
// and recreates its device between streams still gets one recording.
#pragma once

#include <cstdint>
#include <functional>

namespace kiv::sound {

// Replaces the clock the play cursors follow (nanoseconds, never going
// back). An empty function restores the monotonic system clock.
void SetNullSoundClock(std::function<std::int64_t()> clock);

// Marks every null-device buffer lost and stops it, as when another program
// takes the device away: Lock and Play answer DSERR_BUFFERLOST and
// GetStatus reports DSBSTATUS_BUFFERLOST until Restore.
void LoseNullSoundBuffers();

// Brings the cursors up to now and writes out everything captured so far.
void FlushNullSoundCapture();

}  // namespace kiv::sound
