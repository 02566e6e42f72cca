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
    EXPECT_EQ(NormaliseFormat("aiff"), "");
    EXPECT_EQ(NormaliseFormat(".Flac"), "FLAC");
    EXPECT_EQ(NormaliseFormat("opus"), "OPUS");
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
}  // namespace kiv::app
