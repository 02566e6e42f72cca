#include <gtest/gtest.h>

#include "app/core/output_planning.h"

namespace kiv::app {
namespace {

TEST(OutputPlanning, DestinationNamesAndFormats) {
    EXPECT_EQ(DestinationFileName("Song.Mp3", "WAV"), "Song.wav");
    EXPECT_EQ(DestinationFileName("track", "MP3"), "track.mp3");
    EXPECT_EQ(DestinationFileName("a.b.c.ogg", "WMA"), "a.b.c.wma");
    EXPECT_EQ(NormaliseFormat("ogg"), "OGG");
    EXPECT_EQ(NormaliseFormat(".Wav"), "WAV");
    EXPECT_EQ(NormaliseFormat("flac"), "");
    EXPECT_EQ(WithTrailingSlash("out"), "out/");
    EXPECT_EQ(WithTrailingSlash("out/"), "out/");
    EXPECT_EQ(WithTrailingSlash(""), "");
}

TEST(OutputPlanning, SameFormatAndEncoderChoice) {
    EXPECT_TRUE(SameFormat("/m/a.MP3", "/o/a.mp3"));
    EXPECT_FALSE(SameFormat("/m/name.wave", "/o/name.wav"));
    EXPECT_FALSE(SameFormat("/m.v2/name", "/o/name.wav")) << "a dot in a folder is no extension";
    struct Case {
        const char* path;
        const ClassIdentity* cls;
    } cases[] = {{"x.WAV", &kClassWaveEncoder}, {"x.mp3", &kClassMp3Encoder}, {"x.wma", &kClassWmaEncoder},
                 {"x.ogg", &kClassVorbisEncoder}, {"x.", &kClassVorbisEncoder}};
    for (const Case& c : cases) EXPECT_EQ(&EncoderForPath(c.path), c.cls) << c.path;
}

}  // namespace

TEST(OutputPlanning, ChoosingAFormatKeepsOnlyTheQualityModesItOffers) {
    using Q = QualityMode;
    using F = OutputFormat;
    const struct {
        F format;
        Q before, after;
    } cases[] = {
        {F::Wav, Q::Cbr, Q::None}, {F::Wav, Q::Vbr, Q::None},  {F::Mp3, Q::None, Q::Cbr}, {F::Mp3, Q::Abr, Q::Abr},
        {F::Mp3, Q::Vbr, Q::Vbr},  {F::Wma, Q::Abr, Q::Cbr},   {F::Wma, Q::Vbr, Q::Vbr},  {F::Wma, Q::None, Q::Cbr},
        {F::Ogg, Q::Cbr, Q::Abr},  {F::Ogg, Q::None, Q::Abr},  {F::Ogg, Q::Vbr, Q::Vbr},
    };
    for (const auto& c : cases) {
        Step2Settings s;
        s.mode = FormatMode::Advanced;
        s.quality = c.before;
        ChooseNormalFormat(s, c.format);
        EXPECT_EQ(s.mode, FormatMode::Normal);
        EXPECT_EQ(s.format, c.format);
        EXPECT_EQ(s.quality, c.after) << FormatName(c.format) << " from " << int(c.before);
    }
}

TEST(OutputPlanning, QualitySliderScales) {
    const QualitySlider convert{160}, rip{150};
    for (const QualitySlider& s : {convert, rip}) {
        EXPECT_EQ(s.ValueAt(QualityMode::Cbr, s.low), 96);
        EXPECT_EQ(s.ValueAt(QualityMode::Abr, s.high()), 320);
        EXPECT_EQ(s.ValueAt(QualityMode::Vbr, s.low), 0);
        EXPECT_EQ(s.ValueAt(QualityMode::Vbr, s.high()), 100);
        EXPECT_EQ(s.ValueAt(QualityMode::Cbr, s.low - 40), 96);  // clamped to the track
        EXPECT_EQ(s.PositionOf(QualityMode::Cbr, 320), s.high());
        EXPECT_EQ(s.PositionOf(QualityMode::Vbr, 0), s.low);
        EXPECT_EQ(s.PositionOf(QualityMode::Vbr, 100), s.high());
        EXPECT_FALSE(s.PositionOf(QualityMode::Cbr, 95).has_value());
        EXPECT_FALSE(s.PositionOf(QualityMode::Abr, 321).has_value());
        EXPECT_FALSE(s.PositionOf(QualityMode::Vbr, 101).has_value());
    }
    EXPECT_EQ(convert.ValueAt(QualityMode::Cbr, 220), 208);  // round((220 - 108.57) * 1.8666667)
    EXPECT_EQ(convert.PositionOf(QualityMode::Cbr, 128), 177);  // round(128 / 1.8666667 + 108.5)
    EXPECT_EQ(rip.PositionOf(QualityMode::Cbr, 128), 167);
}

TEST(OutputPlanning, TheAdvancedChooserOffersTheOtherFormats) {
    using V = std::vector<std::string>;
    EXPECT_EQ(ChooserFormats("WAV"), (V{"MP3", "WMA", "OGG"}));
    EXPECT_EQ(ChooserFormats("MP3"), (V{"WAV", "WMA", "OGG"}));
    EXPECT_EQ(ChooserFormats("WMA"), (V{"WAV", "MP3", "OGG"}));
    EXPECT_EQ(ChooserFormats("OGG"), (V{"WAV", "MP3", "WMA"}));
    EXPECT_EQ(ChooserFormats("WAVE"), (V{"WAV", "MP3", "WMA"}));
}

TEST(OutputPlanning, KeepingTheFolderTreeMapsSubFoldersBelowTheOutputFolder) {
    TaskRow deep{"c.wav", "/music/live/2019", "1KB", "WAV", "", "/music"};
    TaskRow top{"a.wav", "/music", "1KB", "WAV", "", "/music"};
    TaskRow single{"s.wav", "/elsewhere/x", "1KB", "WAV", "", ""};
    TaskRow fromRoot{"r.wav", "/data/r", "1KB", "WAV", "", "/"};
    Step2Settings s;
    s.folder = OutputFolder::Custom;
    s.customDir = "/out";
    s.keepFolders = true;
    EXPECT_EQ(DestinationFolder(s, deep, "/app/"), "/out/live/2019/");
    EXPECT_EQ(DestinationFolder(s, top, "/app/"), "/out/");
    EXPECT_EQ(DestinationFolder(s, single, "/app/"), "/out/");
    EXPECT_EQ(DestinationFolder(s, fromRoot, "/app/"), "/out/data/r/");
    s.folder = OutputFolder::Default;
    EXPECT_EQ(DestinationFolder(s, deep, "/app/"), "/app/live/2019/");
    s.folder = OutputFolder::Source;
    EXPECT_EQ(DestinationFolder(s, deep, "/app/"), "/music/live/2019/");
    s.folder = OutputFolder::Custom;
    s.keepFolders = false;
    EXPECT_EQ(DestinationFolder(s, deep, "/app/"), "/out/");
}

}  // namespace kiv::app
