// CDDB records of a drive from a local server, file names from templates,
// and encoder jobs that carry the active record's tags.
#include <gtest/gtest.h>

#include "tests/components/cdrip/cdrip_fixture.h"
#include "tests/components/cdrip/local_cddb_server.h"

namespace kiv::test {
namespace {

const char kRecord[] =
    "# xmcd\r\nDISCID=05000402\r\nDTITLE=The Band / The Album\r\nDYEAR=1999\r\nDGENRE=Rock\r\n"
    "TTITLE0=Intro\r\nTTITLE1=../A/B: Side?\r\nEXTD=\r\n";

Bstr Text(const std::string& s) { return Bstr(std::u16string(s.begin(), s.end())); }

class CddbRipTest : public RipTest {
protected:
    void SetUp() override {
        RipTest::SetUp();
        server_.UseFromEnvironment();
        pcm_ = MakeTracks({100, 200});
        Config("[drive]\n" + TrackLines(2));
        ASSERT_TRUE(CreateRipper());
        drive_ = DriveAt(1);
    }
    void TearDown() override {
        ::unsetenv("ONDALO_CDDB_SERVER");
        ::unsetenv("ONDALO_CDDB_PORT");
        drive_.reset();
        RipTest::TearDown();
    }
    std::u16string Name(LONG track, const char16_t* pattern) {
        Bstr out;
        Bstr in(pattern);
        EXPECT_EQ(TrackAt(drive_.get(), track)->GenerateFilename(in.get(), out.put()), S_OK);
        return out.str();
    }

    LocalCddbServer server_{kRecord};
    std::vector<Bytes> pcm_;
    ComPtr<IDrive> drive_;
};

TEST_F(CddbRipTest, RecordsNameTracksOnlyAfterALookup) {
    Bstr out;
    Bstr pattern(u"%2");
    EXPECT_EQ(TrackAt(drive_.get(), 1)->GenerateFilename(pattern.get(), out.put()), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError(), std::make_pair(std::string("ZEMOR.CDRipper.1"), std::string("No active CDDB record.")));

    ASSERT_EQ(drive_->LoadCDDBData(), S_OK) << TakeError().second;
    LONG count = 0;
    EXPECT_EQ(drive_->GetCDDBRecordNumber(&count), S_OK);
    ASSERT_EQ(count, 1);
    ComPtr<ICDDBRecord> record;
    ASSERT_EQ(drive_->GetCDDBRecord(1, record.put()), S_OK);
    Bstr text;
    EXPECT_EQ(record->get_Description(text.put()), S_OK);
    EXPECT_EQ(text.str(), u"The Band / The Album");
    EXPECT_EQ(record->get_RawData(text.put()), S_OK);
    EXPECT_NE(text.str().find(u"TTITLE0=Intro"), std::u16string::npos);

    EXPECT_EQ(Name(1, u"%1 - %3 - %6 - %2"), u"The Band - The Album - 01 - Intro");
    EXPECT_EQ(Name(1, u"100%% %9 %7"), u"100% %9 05000402");
    // Values from the network never climb out of the folder or make one;
    // the template's own separators still do.
    const std::u16string nested = Name(2, u"%1/%3/%6 %2");
    EXPECT_EQ(nested.substr(0, 24), u"The Band/The Album/02 ..");
    EXPECT_EQ(std::count(nested.begin(), nested.end(), u'/'), 2);
    EXPECT_EQ(nested.find(u':'), std::u16string::npos);
    EXPECT_EQ(nested.find(u'?'), std::u16string::npos);

    // The same disc again keeps the records; another disc drops them.
    EXPECT_EQ(drive_->Refresh(), S_OK);
    drive_->GetCDDBRecordNumber(&count);
    EXPECT_EQ(count, 1);
    Config("[drive]\n" + TrackLines(1));
    EXPECT_EQ(drive_->Refresh(), S_OK);
    drive_->GetCDDBRecordNumber(&count);
    EXPECT_EQ(count, 0);
}

TEST_F(CddbRipTest, EncoderJobsCarryTheActiveRecordsTags) {
    ASSERT_EQ(drive_->LoadCDDBData(), S_OK) << TakeError().second;
    auto encoder = Create<IKivAudioEncoder>(kClassWaveEncoder.clsid, IID_IKivAudioEncoder);
    ASSERT_TRUE(encoder);
    EXPECT_EQ(TrackAt(drive_.get(), 1)->ExtractToEncoder(Text(dir_ / "x").get(), 1), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, "External encoder is not set.");
    ASSERT_EQ(ripper_->put_Encoder(encoder.get()), S_OK);

    ASSERT_EQ(TrackAt(drive_.get(), 1)->ExtractToEncoder(Text(dir_ / "sub/intro").get(), 1), S_OK);
    ASSERT_TRUE(WaitForRun());
    EXPECT_EQ(Without("progress"), (std::vector<std::string>{"start", "end"}));
    const Bytes file = ReadFileBytes(dir_ / "sub/intro.wav");
    ASSERT_GE(file.size(), pcm_[0].size());
    EXPECT_TRUE(std::equal(pcm_[0].begin(), pcm_[0].end(), file.end() - static_cast<long>(pcm_[0].size())));

    ComPtr<IAudioTag> tags;
    ASSERT_EQ(encoder->get_TagData(tags.put()), S_OK);
    struct Field {
        HRESULT (IAudioTag::*get)(BSTR*);
        std::u16string expected;
    };
    const Field fields[] = {
        {&IAudioTag::get_Title, u"Intro"}, {&IAudioTag::get_Artist, u"The Band"}, {&IAudioTag::get_Album, u"The Album"},
        {&IAudioTag::get_Year, u"1999"},   {&IAudioTag::get_Genre, u"Rock"},      {&IAudioTag::get_TrackNo, u"1"},
    };
    for (const Field& f : fields) {
        Bstr value;
        EXPECT_EQ((tags.get()->*f.get)(value.put()), S_OK);
        EXPECT_EQ(value.str(), f.expected);
    }
}

TEST_F(CddbRipTest, ARefusingServerLeavesNoRecordsAndSaysWhy) {
    LocalCddbServer refusing("", "");
    ::setenv("ONDALO_CDDB_PORT", std::to_string(refusing.port()).c_str(), 1);
    // The query answer "200 " names no match: the lookup fails as the
    // server's unknown failure, not as success with nothing.
    EXPECT_EQ(drive_->LoadCDDBData(), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().first, "ZEMOR.CDRipper.1");
    LONG count = -1;
    drive_->GetCDDBRecordNumber(&count);
    EXPECT_EQ(count, 0);
}

}  // namespace
}  // namespace kiv::test
