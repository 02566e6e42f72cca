#include "platform/scsi/scsi_transport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <map>
#include <thread>

#include "platform/scsi/completion_event.h"
#include "platform/scsi/sense.h"

namespace kiv::scsi {
namespace {

// A back-end that leaves every execute block pending and, when told to,
// finishes it later on a thread of its own, the way a real ASPI manager does.
class LateBackend final : public ScsiBackend {
public:
    explicit LateBackend(bool completes) : completes_(completes) {}
    ~LateBackend() override {
        if (worker_.joinable()) worker_.join();
    }

    DWORD SupportInfo() override { return MakeSupportInfo(SS_COMP, 1); }

    DWORD Send(void* block) override {
        auto* header = static_cast<SRB_Header*>(block);
        if (header->SRB_Cmd == SC_ABORT_SRB) {
            aborted_ = static_cast<SRB_Abort*>(block)->SRB_ToAbort;
            return SS_COMP;
        }
        if (header->SRB_Cmd != SC_EXEC_SCSI_CMD) return SS_ERR;
        auto* srb = static_cast<SRB_ExecSCSICmd*>(block);
        SetSrbStatus(srb, SS_PENDING);
        sent_ = srb;
        if (completes_) {
            worker_ = std::thread([srb] {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                std::memset(srb->SRB_BufPointer, 0x5A, srb->SRB_BufLen);
                SetSrbStatus(srb, SS_COMP);
                SignalCompletion(srb);
            });
        }
        return SS_PENDING;
    }

    std::atomic<void*> aborted_{nullptr};
    std::atomic<void*> sent_{nullptr};

private:
    bool completes_;
    std::thread worker_;
};

TEST(ScsiTransport, WaitsForAPendingCommandToComplete) {
    auto backend = std::make_unique<LateBackend>(true);
    LateBackend* late = backend.get();
    ScsiTransport transport(std::move(backend));
    std::array<BYTE, 8> data{};
    const CommandResult result = transport.Execute({0, 0, 0}, SRB_DIR_IN, TestUnitReady(), data.data(), data.size());
    EXPECT_EQ(result.status, SS_COMP);
    EXPECT_EQ(data[7], 0x5A);
    EXPECT_EQ(late->aborted_.load(), nullptr);
}

TEST(ScsiTransport, AbortsACommandThatNeverCompletes) {
    auto backend = std::make_unique<LateBackend>(false);
    LateBackend* late = backend.get();
    ScsiTransport transport(std::move(backend), std::chrono::milliseconds(30));
    const CommandResult result = transport.Execute({0, 2, 0}, 0, TestUnitReady(), nullptr, 0);
    EXPECT_EQ(result.status, SS_ABORTED);
    EXPECT_NE(late->sent_.load(), nullptr);
    EXPECT_EQ(late->aborted_.load(), late->sent_.load());
}

// A device list with one drive that answers INQUIRY and nothing else.
class OneDrive final : public SgDeviceOps {
public:
    std::vector<std::string> ListDevices() override { return {"/dev/sr0"}; }
    int Open(const std::string&, bool) override { return 3; }
    void Close(int) override {}
    int Address(int, DeviceAddress* address) override {
        *address = {0, 0, 0};
        return 0;
    }
    int SgIo(int, sg_io_hdr_t* io) override {
        io->info = SG_INFO_OK;
        if (io->cmdp[0] == 0x12) {
            auto* data = static_cast<BYTE*>(io->dxferp);
            data[0] = DTYPE_CDROM;
            std::memcpy(data + 8, "PASSTHRUDRIVE 1234567890", 24);
        }
        return 0;
    }
};

TEST(ScsiTransport, ChoosesTheBackEndLikeTheSlotRules) {
    std::string error;
    // Loads, but has neither entry point: an error, no fallback.
    EXPECT_EQ(ScsiTransport::Open("libm.so.6", &error, std::make_unique<OneDrive>()), nullptr);
    EXPECT_NE(error.find("lacks"), std::string::npos) << error;

    // Nothing in the slot: pass-through when a drive exists.
    auto transport = ScsiTransport::Open("no-such-aspi-library.so", &error, std::make_unique<OneDrive>());
    ASSERT_NE(transport, nullptr) << error;
    const auto drives = transport->Discover();
    ASSERT_EQ(drives.size(), 1u);
    EXPECT_EQ(drives[0].name, "PASSTHRUDRIVE 1234567890");

    class NoDrives final : public SgDeviceOps {
        std::vector<std::string> ListDevices() override { return {}; }
        int Open(const std::string&, bool) override { return -ENOENT; }
        void Close(int) override {}
        int Address(int, DeviceAddress*) override { return -ENOTTY; }
        int SgIo(int, sg_io_hdr_t*) override { return -EIO; }
    };
    error.clear();
    EXPECT_EQ(ScsiTransport::Open("no-such-aspi-library.so", &error, std::make_unique<NoDrives>()), nullptr);
    EXPECT_FALSE(error.empty());
}

TEST(ScsiTransport, LibraryNameComesFromTheEnvironment) {
    ::unsetenv("KIV_ASPI_LIBRARY");
    EXPECT_EQ(ScsiTransport::AspiLibraryName(), "wnaspi32.so");
    ::setenv("KIV_ASPI_LIBRARY", "/opt/x/vcdrive.so", 1);
    EXPECT_EQ(ScsiTransport::AspiLibraryName(), "/opt/x/vcdrive.so");
    ::unsetenv("KIV_ASPI_LIBRARY");
}

}  // namespace
}  // namespace kiv::scsi
