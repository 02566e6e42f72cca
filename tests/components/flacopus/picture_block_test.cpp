// The picture block shared by FLAC, Ogg Vorbis and Opus, and its base64 form.
#include <gtest/gtest.h>

#include "components/vorbis/picture_block.h"

namespace kiv::vorbis {
namespace {

TagPicture Sample() {
    TagPicture p;
    p.type = 4;
    p.mimeType = "image/png";
    p.description = u"Rückseite";
    p.data = {0x89, 'P', 'N', 'G', 0, 1, 2, 3, 0xFF};
    return p;
}

TEST(PictureBlock, RoundTripsThroughBlockAndBase64) {
    const TagPicture p = Sample();
    const auto block = EncodePictureBlock(p);
    // type, mime, description (UTF-8, 10 bytes), four numbers, data
    EXPECT_EQ(block.size(), 4 + 4 + 9 + 4 + 10 + 16 + 4 + 9u);
    EXPECT_EQ(DecodePictureBlock(block), p);
    EXPECT_EQ(PictureFromComment(PictureComment(p)), p);
}

TEST(PictureBlock, EveryCutOrOverlongLengthIsRefused) {
    const auto block = EncodePictureBlock(Sample());
    for (std::size_t n = 0; n < block.size(); ++n)
        EXPECT_FALSE(DecodePictureBlock(std::span(block).first(n))) << "cut at " << n;
    // A data length that claims more than is there, and one of 4 GiB.
    for (std::uint8_t top : {std::uint8_t(0x00), std::uint8_t(0xFF)}) {
        auto bad = block;
        const std::size_t at = block.size() - 9 - 4;
        bad[at] = top;
        bad[at + 3] = 0xFF;
        EXPECT_FALSE(DecodePictureBlock(bad));
    }
    // No image at all.
    TagPicture empty = Sample();
    empty.data.clear();
    EXPECT_FALSE(DecodePictureBlock(EncodePictureBlock(empty)));
}

TEST(PictureBlock, Base64MatchesTheStandardVectorsAndRefusesStrangers) {
    const std::pair<const char*, const char*> vectors[] = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [plain, coded] : vectors) {
        const std::string_view p = plain;
        const std::vector<std::uint8_t> bytes(p.begin(), p.end());
        EXPECT_EQ(Base64Encode(bytes), coded);
        EXPECT_EQ(Base64Decode(coded), bytes) << coded;
    }
    for (const char* bad : {"Zm9v!", "Z", "Zm9vY", "Zm 9v"}) EXPECT_FALSE(Base64Decode(bad)) << bad;
}

TEST(PictureBlock, PicturesAreFoundAmongCommentsWhateverTheFieldsCase) {
    const std::string coded = PictureComment(Sample());
    const std::string upper = std::string(kPictureField) + "=" + coded;
    const std::string lower = "metadata_block_picture=" + coded;
    const std::string longer = "METADATA_BLOCK_PICTUREX=" + coded;
    const std::vector<std::string_view> comments = {"TITLE=x", upper, "METADATA_BLOCK_PICTURE=broken", lower, longer};
    const auto pictures = PicturesFromComments(comments);
    ASSERT_EQ(pictures.size(), 2u);
    EXPECT_EQ(pictures[0], Sample());
}

}  // namespace
}  // namespace kiv::vorbis
