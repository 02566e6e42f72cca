#include "tests/components/cdrip/cdrip_fixture.h"

#include <cstdlib>
#include <fstream>

#include "platform/system/text.h"

namespace kiv::test {

void RipTest::SetUp() {
    ComponentTest::SetUp();
    UseTemporaryRegistry(dir_, {"kivcdrip", "kivwave"});
    ::setenv("KIV_ASPI_LIBRARY", ONDALO_BUILD_DIR "/lib/vcdrive.so", 1);
}

void RipTest::TearDown() {
    connection_.Disconnect();
    ripper_.reset();
    sink_.reset();
    ::unsetenv("KIV_ASPI_LIBRARY");
    ::unsetenv("KIV_VCD_CONFIG");
    ComponentTest::TearDown();
}

std::vector<Bytes> RipTest::MakeTracks(const std::vector<int>& frames, unsigned seed) {
    std::vector<Bytes> tracks;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        tracks.push_back(PatternBytes(frames[i] * kFrame, seed * 100 + static_cast<unsigned>(i)));
        WriteFileBytes(dir_ / ("t" + std::to_string(i + 1) + ".wav"), MakeWav(tracks.back()));
    }
    return tracks;
}

std::string RipTest::TrackLines(std::size_t count) const {
    std::string lines;
    for (std::size_t i = 0; i < count; ++i) lines += "track = t" + std::to_string(i + 1) + ".wav\n";
    return lines;
}

void RipTest::Config(const std::string& text) {
    const std::string path = dir_ / "drives.ini";
    std::ofstream(path, std::ios::trunc) << text;
    ::setenv("KIV_VCD_CONFIG", path.c_str(), 1);
}

ComPtr<IKivCDRipper> RipTest::CreateRipper() {
    ripper_ = Create<IKivCDRipper>(kClassCdRipper.clsid, IID_IKivCDRipper);
    if (!ripper_) return ripper_;
    sink_ = DispatchSink::Create(DIID_IKivCDRipperEvents, [this](DISPID id, DISPPARAMS& p) {
        switch (id) {
            case DISPID_OnExtractionStart: events_.push_back("start"); break;
            case DISPID_OnExtractionEnd: events_.push_back("end"); break;
            case DISPID_OnProgress: events_.push_back("progress " + std::to_string(EventArgLong(p, 0))); break;
            case DISPID_OnExtractionError: events_.push_back("error " + ToUtf8(EventArgText(p, 0))); break;
            case DISPID_OnJitterDetected: events_.push_back("jitter"); break;
            case DISPID_OnDiskChanged: events_.push_back("disk"); break;
            default: events_.push_back("unknown"); break;
        }
    });
    EXPECT_EQ(connection_.Connect(ripper_.get(), DIID_IKivCDRipperEvents, sink_.get()), S_OK);
    return ripper_;
}

ComPtr<IDrive> RipTest::DriveAt(LONG number) {
    ComPtr<IDrive> drive;
    EXPECT_EQ(ripper_->GetDrive(number, drive.put()), S_OK);
    return drive;
}

ComPtr<ITrack> RipTest::TrackAt(IDrive* drive, LONG number) {
    ComPtr<ITrack> track;
    EXPECT_EQ(drive->GetTrack(number, track.put()), S_OK);
    return track;
}

bool RipTest::WaitForRun(int timeoutMs) {
    const bool done = PumpUntil(
        [&] {
            VARIANT_BOOL busy = 1;
            ripper_->get_InProgress(&busy);
            return busy == 0;
        },
        timeoutMs);
    PumpPendingMessages();
    return done;
}

std::vector<std::string> RipTest::Without(const std::string& prefix) const {
    std::vector<std::string> kept;
    for (const auto& e : events_)
        if (e.rfind(prefix, 0) != 0) kept.push_back(e);
    return kept;
}

Bytes WavData(const std::string& path) {
    const Bytes file = ReadFileBytes(path);
    if (file.size() < 46) return {};
    return Bytes(file.begin() + 46, file.end());
}

}  // namespace kiv::test
