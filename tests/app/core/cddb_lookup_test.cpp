// The rip's CDDB lookup: it runs off the owner's thread, reports there, and
// its outcome is judged the same way for a window and a terminal.
#include "app/core/cddb_lookup.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/msg/message_queue.h"
#include "tests/components/cdrip/cdrip_fixture.h"
#include "tests/components/cdrip/local_cddb_server.h"

namespace kiv::test {
namespace {

using app::CddbLookup;
using app::CddbLookupResult;

class CddbLookupTest : public RipTest {
protected:
    void TearDown() override {
        ::unsetenv("ONDALO_CDDB_SERVER");
        ::unsetenv("ONDALO_CDDB_PORT");
        RipTest::TearDown();
    }

    // Starts a lookup and pumps until it reports; records where it reported.
    CddbLookupResult LookUp(IDrive* drive) {
        CddbLookup lookup;
        CddbLookupResult got;
        int calls = 0;
        lookup.Start(drive, [&](const CddbLookupResult& r) {
            got = r;
            ++calls;
            reportedOn_ = std::this_thread::get_id();
        });
        EXPECT_TRUE(lookup.running());
        EXPECT_EQ(calls, 0) << "the result must come through the queue, not from Start";
        EXPECT_TRUE(PumpUntil([&] { return !lookup.running(); }, 30000));
        EXPECT_EQ(calls, 1);
        return got;
    }
    std::thread::id reportedOn_;
};

TEST_F(CddbLookupTest, ARecordArrivesOnTheOwnersThreadWithItsRawText) {
    MakeTracks({75, 75});
    Config("[drive]\n" + TrackLines(2));
    LocalCddbServer server("DTITLE=The Band / The Album\r\nDYEAR=1999\r\nDGENRE=Rock\r\nTTITLE0=Intro\r\n");
    server.UseFromEnvironment();
    CreateRipper();
    ComPtr<IDrive> drive = DriveAt(1);

    const CddbLookupResult r = LookUp(drive.get());
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_NE(r.rawData.find("DTITLE=The Band / The Album"), std::string::npos);
    EXPECT_EQ(reportedOn_, std::this_thread::get_id());
    LONG records = 0;
    drive->GetCDDBRecordNumber(&records);
    EXPECT_EQ(records, 1);

    const app::CddbReport report = CddbLookup::Judge(r, false, true, true, {});
    EXPECT_EQ(report.status, "Load CDDB data finished.");
    EXPECT_FALSE(report.showMessage);
    ASSERT_TRUE(report.takeInformation);
    EXPECT_EQ(report.information.artist, "The Band");
    EXPECT_EQ(report.information.album, "The Album");
    EXPECT_EQ(report.information.year, "1999");
    EXPECT_EQ(report.information.genre, "Rock");
}

TEST_F(CddbLookupTest, AServerThatIsDownIsAFailureWithItsReason) {
    MakeTracks({75});
    Config("[drive]\n" + TrackLines(1));
    LocalCddbServer::UseDownServer();
    CreateRipper();
    const CddbLookupResult r = LookUp(DriveAt(1).get());
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.error.empty());
}

TEST_F(CddbLookupTest, ANewLookupDropsTheResultOfTheOneBefore) {
    MakeTracks({75});
    Config("[drive]\n" + TrackLines(1));
    LocalCddbServer server("DTITLE=A / B\r\n");
    server.UseFromEnvironment();
    CreateRipper();
    ComPtr<IDrive> drive = DriveAt(1);
    CddbLookup lookup;
    std::vector<std::string> reports;
    lookup.Start(drive.get(), [&](const CddbLookupResult&) { reports.push_back("first"); });
    lookup.Start(drive.get(), [&](const CddbLookupResult&) { reports.push_back("second"); });
    ASSERT_TRUE(PumpUntil([&] { return !lookup.running(); }, 30000));
    // Whatever the order the two threads end in, only the newest reports.
    PumpUntil([] { return false; }, 300);
    EXPECT_EQ(reports, std::vector<std::string>{"second"});
}

}  // namespace

// The outcome, judged: what the status shows and when a box is added.
struct JudgeCase {
    bool ok, emptyList, automatic, inform;
    const char* status;
    bool message, take, clear;
};

TEST(CddbLookupJudge, StatusTextAndMessageBoxRule) {
    const JudgeCase cases[] = {
        {true, false, true, true, "Load CDDB data finished.", false, true, false},
        {true, false, false, true, "Load CDDB data finished.", false, true, false},
        // Failures: only a lookup the user asked for, with the option on, earns a box.
        {false, false, true, true, "No record for this CD found.", false, false, false},
        {false, false, false, true, "No record for this CD found.", true, false, false},
        {false, false, false, false, "No record for this CD found.", false, false, false},
        // An empty list: the status is cleared, the boxes emptied after a success only.
        {true, true, false, true, "", false, false, true},
        {false, true, false, true, "", false, false, false},
    };
    for (const JudgeCase& c : cases) {
        CddbLookupResult r;
        r.ok = c.ok;
        r.rawData = "DTITLE=X / Y\n";
        const app::CddbReport report = CddbLookup::Judge(r, c.emptyList, c.automatic, c.inform, {"a", "b", "1990", "g"});
        SCOPED_TRACE(::testing::Message() << c.ok << c.emptyList << c.automatic << c.inform);
        EXPECT_EQ(report.status, c.status);
        EXPECT_EQ(report.showMessage, c.message);
        EXPECT_EQ(report.takeInformation, c.take);
        EXPECT_EQ(report.clearInformation, c.clear);
        if (c.take) {
            // A record without a year line keeps the year shown.
            EXPECT_EQ(report.information.artist, "X");
            EXPECT_EQ(report.information.year, "1990");
        }
    }
}

}  // namespace kiv::test
