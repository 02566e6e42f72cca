#include "platform/scsi/pass_through.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "platform/scsi/cdb.h"
#include "platform/scsi/sense.h"

namespace kiv::scsi {
namespace {

// Devices as the kernel would show them; counts what the back-end did.
struct FakeDevice {
    int addressResult = 0;  // 0 or -errno
    DeviceAddress address;
    BYTE type = DTYPE_CDROM;
    std::string vendorProduct = "VENDOR  PRODUCT NAME    ";
    bool writable = true;
    int unitAttentions = 0;   // commands that still report UNIT ATTENTION
    int staleHandles = 0;     // SG_IO calls that still fail with ENODEV
    int failWith = 0;         // errno for every non-INQUIRY command
    int opens = 0;
    int closes = 0;
    int commands = 0;         // non-INQUIRY commands that reached the drive
    int inquiries = 0;
};

class FakeOps final : public SgDeviceOps {
public:
    explicit FakeOps(std::map<std::string, FakeDevice>* devices) : devices_(devices) {}

    std::vector<std::string> ListDevices() override {
        std::vector<std::string> paths;
        for (const auto& [path, device] : *devices_) paths.push_back(path);
        return paths;
    }
    int Open(const std::string& path, bool readWrite) override {
        FakeDevice& device = devices_->at(path);
        if (readWrite && !device.writable) return -EACCES;
        ++device.opens;
        const int fd = next_++;
        open_[fd] = path;
        readWrite_[fd] = readWrite;
        return fd;
    }
    void Close(int fd) override {
        ASSERT_TRUE(open_.count(fd)) << "closed twice or never opened";
        ++devices_->at(open_[fd]).closes;
        open_.erase(fd);
    }
    int Address(int fd, DeviceAddress* address) override {
        const FakeDevice& device = devices_->at(open_.at(fd));
        if (device.addressResult == 0) *address = device.address;
        return device.addressResult;
    }
    int SgIo(int fd, sg_io_hdr_t* io) override {
        EXPECT_TRUE(open_.count(fd)) << "command on a closed descriptor";
        FakeDevice& device = devices_->at(open_.at(fd));
        io->info = SG_INFO_OK;
        io->status = 0;
        io->sb_len_wr = 0;
        if (io->cmdp[0] == OP_INQUIRY) {
            ++device.inquiries;
            auto* data = static_cast<BYTE*>(io->dxferp);
            std::memset(data, 0, io->dxfer_len);
            data[0] = device.type;
            std::memcpy(data + 8, device.vendorProduct.data(), 24);
            return 0;
        }
        if (device.staleHandles > 0) {
            --device.staleHandles;
            return -ENODEV;
        }
        if (device.failWith) return -device.failWith;
        ++device.commands;
        lastReadWrite_ = readWrite_[fd];
        if (device.unitAttentions > 0) {
            --device.unitAttentions;
            const auto sense = MakeFixedSense({SENSE_UNIT_ATTENTION, ASC_MEDIUM_MAY_HAVE_CHANGED, 0});
            std::memcpy(io->sbp, sense.data(), std::min<std::size_t>(io->mx_sb_len, sense.size()));
            io->sb_len_wr = static_cast<unsigned char>(std::min<std::size_t>(io->mx_sb_len, sense.size()));
            io->status = STATUS_CHKCOND;
            io->masked_status = 0x01;
            io->driver_status = 0x08;
            io->info = SG_INFO_CHECK;
        }
        return 0;
    }

    std::size_t OpenCount() const { return open_.size(); }
    bool lastReadWrite_ = false;

private:
    std::map<std::string, FakeDevice>* devices_;
    std::map<int, std::string> open_;
    std::map<int, bool> readWrite_;
    int next_ = 100;
};

struct Harness {
    explicit Harness(std::map<std::string, FakeDevice> initial) : devices(std::move(initial)) {
        auto fake = std::make_unique<FakeOps>(&devices);
        ops = fake.get();
        backend = std::make_unique<PassThrough>(std::move(fake));
    }

    SRB_ExecSCSICmd Exec(BYTE adapter, BYTE target, const Cdb& cdb, BYTE* buffer = nullptr, DWORD length = 0) {
        SRB_ExecSCSICmd srb{};
        srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
        srb.SRB_HaId = adapter;
        srb.SRB_Target = target;
        srb.SRB_Flags = buffer ? SRB_DIR_IN : 0;
        srb.SRB_BufPointer = buffer;
        srb.SRB_BufLen = length;
        srb.SRB_SenseLen = SENSE_LEN;
        srb.SRB_CDBLen = cdb.length;
        std::memcpy(srb.CDBByte, cdb.bytes.data(), cdb.length);
        backend->Send(&srb);
        return srb;
    }

    BYTE TypeAt(BYTE adapter, BYTE target) {
        SRB_GDEVBlock srb{};
        srb.SRB_Cmd = SC_GET_DEV_TYPE;
        srb.SRB_HaId = adapter;
        srb.SRB_Target = target;
        return backend->Send(&srb) == SS_COMP ? srb.SRB_DeviceType : DTYPE_UNKNOWN;
    }

    std::map<std::string, FakeDevice> devices;
    FakeOps* ops = nullptr;
    std::unique_ptr<PassThrough> backend;
};

FakeDevice At(int host, int target) {
    FakeDevice device;
    device.address = {host, target, 0};
    return device;
}

TEST(ScsiPassThrough, DriveTableNumbersAdaptersByHost) {
    FakeDevice noAddress;
    noAddress.addressResult = -ENOTTY;
    FakeDevice brokenAddress;
    brokenAddress.addressResult = -EIO;
    FakeDevice disk = At(0, 0);
    disk.type = 0x00;
    Harness h({{"/dev/sr0", At(4, 1)}, {"/dev/sr1", At(4, 0)}, {"/dev/sr3", noAddress},
               {"/dev/sr5", brokenAddress}, {"/dev/sr6", disk}});

    EXPECT_EQ(h.backend->ValidDriveCount(), 3u);
    EXPECT_EQ(h.backend->SupportInfo(), MakeSupportInfo(SS_COMP, 2));
    // Ports 3 (sr3 by its number) and 4: adapter 0 is port 3, adapter 1 port 4.
    struct Case {
        BYTE adapter, target, type;
    };
    const Case cases[] = {{0, 0, DTYPE_CDROM}, {1, 0, DTYPE_CDROM}, {1, 1, DTYPE_CDROM}, {0, 1, DTYPE_UNKNOWN},
                          {1, 2, DTYPE_UNKNOWN}, {2, 0, DTYPE_UNKNOWN}, {5, 0, DTYPE_UNKNOWN}};
    for (const Case& c : cases) EXPECT_EQ(h.TypeAt(c.adapter, c.target), c.type) << int(c.adapter) << ":" << int(c.target);
    // Table building leaves nothing open.
    EXPECT_EQ(h.ops->OpenCount(), 0u);

    SRB_HAInquiry inquiry{};
    inquiry.SRB_Cmd = SC_HA_INQUIRY;
    inquiry.SRB_HaId = 1;
    ASSERT_EQ(h.backend->Send(&inquiry), SS_COMP);
    EXPECT_EQ(inquiry.HA_Count, 2);
    EXPECT_STREQ(reinterpret_cast<const char*>(inquiry.HA_ManagerId), "NtScsiInterface");
    EXPECT_STREQ(reinterpret_cast<const char*>(inquiry.HA_Identifier), "SCSI Adapter 4");
    inquiry.SRB_HaId = 2;
    EXPECT_EQ(h.backend->Send(&inquiry), SS_INVALID_HA);

    Harness none({{"/dev/sr0", disk}});
    EXPECT_EQ(none.backend->SupportInfo(), MakeSupportInfo(SS_NO_ADAPTERS, 0));
}

TEST(ScsiPassThrough, InquiryIsAnsweredFromTheTable) {
    Harness h({{"/dev/sr0", At(0, 0)}});
    const int before = h.devices["/dev/sr0"].inquiries;
    std::array<BYTE, 36> data{};
    const auto srb = h.Exec(0, 0, Inquiry(0), data.data(), data.size());
    EXPECT_EQ(srb.SRB_Status, SS_COMP);
    EXPECT_EQ(h.devices["/dev/sr0"].inquiries, before);
    EXPECT_EQ(h.devices["/dev/sr0"].opens, 1);  // only the table building
    EXPECT_EQ(ParseInquiry(data)->Name(), "VENDOR  PRODUCT NAME    ");
}

TEST(ScsiPassThrough, OpensLazilyAndKeepsTheDeviceOpen) {
    FakeDevice readOnly = At(0, 0);
    readOnly.writable = false;
    Harness h({{"/dev/sr0", readOnly}});
    const int opensAfterTable = h.devices["/dev/sr0"].opens;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(h.Exec(0, 0, TestUnitReady()).SRB_Status, SS_COMP);
    EXPECT_EQ(h.devices["/dev/sr0"].opens, opensAfterTable + 1);
    EXPECT_FALSE(h.ops->lastReadWrite_);  // fell back to read-only
    EXPECT_EQ(h.ops->OpenCount(), 1u);
    h.backend.reset();
    EXPECT_EQ(h.devices["/dev/sr0"].closes, h.devices["/dev/sr0"].opens);
}

TEST(ScsiPassThrough, MediaChangeIsRepeatedOnceAfterAReopen) {
    struct Case {
        const char* what;
        int unitAttentions, staleHandles, failWith;
        BYTE status;
        int commands;  // commands that reached the drive
        int reopens;   // opens after the first command's open
    };
    const Case cases[] = {
        {"one unit attention", 1, 0, 0, SS_COMP, 2, 2},
        {"unit attention twice: no second repeat", 2, 0, 0, SS_ERR, 2, 2},
        {"stale descriptor", 0, 1, 0, SS_COMP, 1, 2},
        {"plain I/O error: no repeat", 0, 0, EIO, SS_ERR, 0, 0},
    };
    for (const Case& c : cases) {
        Harness h({{"/dev/sr0", At(0, 0)}});
        ASSERT_EQ(h.Exec(0, 0, TestUnitReady()).SRB_Status, SS_COMP);
        FakeDevice& device = h.devices["/dev/sr0"];
        device.unitAttentions = c.unitAttentions;
        device.staleHandles = c.staleHandles;
        device.failWith = c.failWith;
        const int commands = device.commands;
        const int opens = device.opens;
        const auto srb = h.Exec(0, 0, TestUnitReady());
        EXPECT_EQ(srb.SRB_Status, c.status) << c.what;
        EXPECT_EQ(device.commands - commands, c.commands) << c.what;
        EXPECT_EQ(device.opens - opens, c.reopens) << c.what;
        if (c.failWith) {
            EXPECT_EQ(srb.SRB_Hdr_Rsvd, DWORD(c.failWith)) << c.what;
        }
        if (c.status == SS_ERR && c.unitAttentions) {
            EXPECT_TRUE(ParseSense(srb.SenseArea)->IsUnitAttention()) << c.what;
            EXPECT_EQ(srb.SRB_TargStat, STATUS_CHKCOND) << c.what;
        }
    }
}

TEST(ScsiPassThrough, UnknownDriveAndNullBufferAreErrors) {
    Harness h({{"/dev/sr0", At(0, 0)}});
    EXPECT_EQ(h.Exec(0, 1, TestUnitReady()).SRB_Status, SS_ERR);
    EXPECT_EQ(h.Exec(0, 0, ReadToc(0, 0, 1, 100), nullptr, 100).SRB_Status, SS_ERR);
    EXPECT_EQ(h.devices["/dev/sr0"].commands, 0);
}

}  // namespace
}  // namespace kiv::scsi
