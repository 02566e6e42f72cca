// Every encoder's output is a function of the samples and the settings: the
// same PCM written in two different block patterns must decode to the same
// samples (Ogg serial numbers differ from file to file, so the decoded PCM
// is compared, not the files).
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "components/common/identities.h"
#include "platform/com/bstr.h"
#include "platform/system/text.h"
#include "tests/support/test_env.h"

namespace kiv::test {
namespace {

constexpr int kRate = 44100;
constexpr int kChannels = 2;

// Loud noise bursts between quiet tones: transients that make an encoder
// choose its block sizes by what it has been given.
std::vector<unsigned char> Programme(double seconds) {
    const std::vector<unsigned char> noise = PatternBytes(std::size_t(seconds * kRate) * 4, 7);
    std::vector<unsigned char> pcm(noise.size());
    for (std::size_t i = 0; i < pcm.size() / 4; ++i) {
        const bool burst = (i / 6000) % 3 == 0;
        for (int c = 0; c < kChannels; ++c) {
            const std::size_t at = i * 4 + std::size_t(c) * 2;
            int v;
            if (burst) {
                v = int(std::int16_t(noise[at] | (noise[at + 1] << 8))) / 2;
            } else {
                v = int(3000 * std::sin(2 * M_PI * (330.0 + 110 * c) * double(i) / kRate));
            }
            pcm[at] = static_cast<unsigned char>(v & 0xff);
            pcm[at + 1] = static_cast<unsigned char>((v >> 8) & 0xff);
        }
    }
    return pcm;
}

struct Codec {
    const char* name;
    const ClassIdentity* encoder;
    const ClassIdentity* decoder;
    const char* extension;
};

class BlockPatternTest : public ComponentTest, public ::testing::WithParamInterface<Codec> {
protected:
    void SetUp() override {
        ComponentTest::SetUp();
        UseTemporaryRegistry(dir_, {"kivwave", "kivmp3", "kivvorbis", "kivwma9"});
    }

    // Encodes `pcm` written in pieces whose sizes cycle through `pattern`;
    // returns the file's name.
    std::string Encode(const std::vector<unsigned char>& pcm, const std::vector<std::size_t>& pattern,
                       const std::string& stem) {
        const Codec& codec = GetParam();
        auto enc = Create<IKivAudioEncoder>(codec.encoder->clsid, IID_IKivAudioEncoder);
        if (!enc) return {};
        const std::string path = dir_ / (stem + codec.extension);
        Bstr name(FromUtf8(path));
        EXPECT_EQ(enc->Open(name.get()), S_OK);
        WAVEFORMATEX f{};
        f.wFormatTag = WAVE_FORMAT_PCM;
        f.nChannels = kChannels;
        f.nSamplesPerSec = kRate;
        f.wBitsPerSample = 16;
        f.nBlockAlign = 4;
        f.nAvgBytesPerSec = kRate * 4;
        EXPECT_EQ(enc->SetInputFormatWFX(&f), S_OK);
        std::size_t at = 0;
        for (std::size_t i = 0; at < pcm.size(); ++i) {
            const std::size_t n = std::min(pattern[i % pattern.size()], pcm.size() - at);
            std::vector<BYTE> piece(pcm.begin() + long(at), pcm.begin() + long(at + n));
            EXPECT_EQ(enc->Write(piece.data(), LONG(n)), S_OK);
            at += n;
        }
        EXPECT_EQ(enc->Close(), S_OK);
        return path;
    }

    std::vector<unsigned char> Decode(const std::string& path) {
        auto dec = Create<IKivAudioDecoder>(GetParam().decoder->clsid, IID_IKivAudioDecoder);
        std::vector<unsigned char> out;
        if (!dec) return out;
        Bstr name(FromUtf8(path));
        EXPECT_EQ(dec->Open(name.get()), S_OK);
        std::vector<BYTE> block(65536);
        for (;;) {
            LONG n = 0;
            EXPECT_EQ(dec->Read(block.data(), LONG(block.size()), &n), S_OK);
            if (n <= 0) break;
            out.insert(out.end(), block.begin(), block.begin() + n);
        }
        EXPECT_EQ(dec->Close(), S_OK);
        return out;
    }
};

TEST_P(BlockPatternTest, SameSamplesInOtherPiecesGiveTheSameAudio) {
    const std::vector<unsigned char> pcm = Programme(4.0);
    // Large aligned blocks against small, odd ones that split sample frames
    // and straddle every block size an encoder reads in.
    const std::string a = Encode(pcm, {65536}, "large");
    const std::string b = Encode(pcm, {1, 333, 2, 4097, 10007, 3, 131075}, "ragged");
    const std::vector<unsigned char> fromA = Decode(a), fromB = Decode(b);
    ASSERT_GT(fromA.size(), pcm.size() / 2) << "the file decodes";
    EXPECT_EQ(fromA.size(), fromB.size());
    EXPECT_TRUE(fromA == fromB) << "the decoded samples differ";
}

INSTANTIATE_TEST_SUITE_P(Encoders, BlockPatternTest,
                         ::testing::Values(Codec{"Wave", &kClassWaveEncoder, &kClassWaveDecoder, ".wav"},
                                           Codec{"Mp3", &kClassMp3Encoder, &kClassMp3Decoder, ".mp3"},
                                           Codec{"Vorbis", &kClassVorbisEncoder, &kClassVorbisDecoder, ".ogg"},
                                           Codec{"Wma", &kClassWmaEncoder, &kClassWmaDecoder, ".wma"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kiv::test
