// Shared fixture of the control's tests: virtual drives of vcdrive.so,
// configured per test in its temporary folder, a temporary registry with
// the CD module and the WAV module, and a record of the control's events.
#pragma once

#include <string>
#include <vector>

#include "components/cdrip/cdrip_interfaces.h"
#include "platform/com/connection_point.h"
#include "tests/support/test_env.h"

namespace kiv::test {

using Bytes = std::vector<unsigned char>;
constexpr std::size_t kFrame = 2352;

class RipTest : public ComponentTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes track WAV files of `frames` frames each (distinct random audio)
    // and returns their PCM.
    std::vector<Bytes> MakeTracks(const std::vector<int>& frames, unsigned seed = 1);
    // The vcdrive configuration; its file names are relative to the folder.
    void Config(const std::string& text);
    std::string TrackLines(std::size_t count) const;

    ComPtr<IKivCDRipper> CreateRipper();
    ComPtr<IDrive> DriveAt(LONG number);
    ComPtr<ITrack> TrackAt(IDrive* drive, LONG number);
    // Pumps until the control's run has posted everything and it was handled.
    bool WaitForRun(int timeoutMs = 30000);

    std::vector<std::string> events_;  // "start", "end", "progress N", "error TEXT", "jitter", "disk"
    std::vector<std::string> Without(const std::string& prefix) const;
    ComPtr<IKivCDRipper> ripper_;

private:
    ComPtr<DispatchSink> sink_;
    EventConnection connection_;
};

// The data chunk of a WAV file written by the control (46-byte header).
Bytes WavData(const std::string& path);

}  // namespace kiv::test
