#include "components/common/identities.h"

namespace kiv {

const ModuleIdentity kModuleWave{"kivwave", "KIVWAVELib", MakeGuid("{3CF6B0C9-8354-4D66-AC79-7696E5E9F473}"),
                                 "Wave Encoder & Decoder Controls 1.0", "Wave Encoder & Decoder Controls"};
const ModuleIdentity kModuleMp3{"kivmp3", "KIVMP3Lib", MakeGuid("{830A4C67-4C87-481F-B670-66A07C83CBF4}"),
                                "MP3 Encoder & Decoder Controls 1.0", "MP3 Encoder Control"};
const ModuleIdentity kModuleVorbis{"kivvorbis", "KIVVORBISLib", MakeGuid("{03D305A8-DF62-47BA-BE78-276821B4AC68}"),
                                   "OggVorbis Encoder & Decoder Controls 1.0", "OggVorbis Encoder Control"};
const ModuleIdentity kModuleWma{"kivwma9", "KIVWMA9Lib", MakeGuid("{F647D893-8EA5-4127-96C0-4C29EB5FD251}"),
                                "WMA Encoder & Decoder Controls 1.0", "WMA Encoder Control"};
const ModuleIdentity kModuleFlac{"kivflac", "KIVFLACLib", MakeGuid("{523CD314-8DF9-4C1A-A544-7F3A978A0BE7}"),
                                 "FLAC Encoder & Decoder Controls 1.0", "FLAC Encoder Control"};
const ModuleIdentity kModuleOpus{"kivopus", "KIVOPUSLib", MakeGuid("{BC46712E-3AFE-40E6-ADCE-541FFBBA3A7B}"),
                                 "Opus Encoder & Decoder Controls 1.0", "Opus Encoder Control"};
const ModuleIdentity kModuleConverter{"kivconv", "KIVCONVLib", MakeGuid("{0A68293B-E8B1-4857-8426-063ADA834D7D}"),
                                      "Audio Converter Control", "Audio Converter Control"};
const ModuleIdentity kModulePlayer{"kivplay", "KIVPLAYLib", MakeGuid("{F7E8102C-BAD2-410F-A4CF-F67B6F6CAFEF}"),
                                   "Audio Player Control 1.0", "Audio Player Control"};
const ModuleIdentity kModuleCdRip{"kivcdrip", "KIVCDRIPLib", MakeGuid("{E3472EE0-B819-44CF-9F71-A79C89013A9C}"),
                                  "CD Extractor Control 1.0", "CD Extractor Control"};

const ClassIdentity kClassWaveEncoder{"KivWaveEncoder", MakeGuid("{22881EFF-5BC6-4A8F-8541-704C73871FA3}"),
                                      "ZEMOR.WaveEncoder.1", "ZEMOR.WaveEncoder", "KivWaveEncoder Class", 101, true,
                                      &kModuleWave, u"KivWaveEncoderHelper"};
const ClassIdentity kClassWaveDecoder{"KivWaveDecoder", MakeGuid("{2AD4671A-F007-412F-AC48-5E1103F74C98}"),
                                      "ZEMOR.WaveDecoder.1", "ZEMOR.WaveDecoder", "KivWaveDecoder Class", 103, true,
                                      &kModuleWave, u"KivWaveDecoderHelper"};
const ClassIdentity kClassMp3Encoder{"KivMP3Encoder", MakeGuid("{E60F17EE-1FE2-4C07-9307-7D04EAA68C76}"),
                                     "ZEMOR.MP3Encoder.1", "ZEMOR.MP3Encoder", "MP3Encoder Class", 101, false,
                                     &kModuleMp3, u"KivMP3EncoderHelper"};
const ClassIdentity kClassMp3Decoder{"KivMP3Decoder", MakeGuid("{3EC32CF4-BEC1-4030-81DC-034525429C14}"),
                                     "ZEMOR.MP3Decoder.1", "ZEMOR.MP3Decoder", "KivMP3Decoder Class", 104, true,
                                     &kModuleMp3, u"KivMP3DecoderHelper"};
const ClassIdentity kClassVorbisEncoder{"KivVorbisEncoder", MakeGuid("{99A5E07E-CB68-4FEF-9E3C-61FD1554E878}"),
                                        "ZEMOR.VorbisEncoder.1", "ZEMOR.VorbisEncoder", "KivVorbisEncoder Class", 101,
                                        false, &kModuleVorbis, u"KivVorbisEncoderHelper"};
const ClassIdentity kClassVorbisDecoder{"KivVorbisDecoder", MakeGuid("{A08B7515-4307-4780-A35A-B954DAED4225}"),
                                        "ZEMOR.VorbisDecoder.1", "ZEMOR.VorbisDecoder", "KivVorbisDecoder Class", 103,
                                        true, &kModuleVorbis, u"KivVorbisDecoderHelper"};
const ClassIdentity kClassWmaEncoder{"KivWmaEncoder", MakeGuid("{541A4E81-49F9-4044-ADAA-E24385873923}"),
                                     "ZEMOR.WmaEncoder.1", "ZEMOR.WmaEncoder", "WMAEncoder Class", 203, false,
                                     &kModuleWma, u"KivWmaEncoderHelper"};
const ClassIdentity kClassWmaDecoder{"KivWmaDecoder", MakeGuid("{7DB0A96A-362D-4F7C-8ADD-2A18D4452BEA}"),
                                     "ZEMOR.WmaDecoder.1", "ZEMOR.WmaDecoder", "KivWmaDecoder Class", 102, true,
                                     &kModuleWma, u"KivWmaDecoderHelper"};
const ClassIdentity kClassFlacEncoder{"KivFlacEncoder", MakeGuid("{B2AD4CCF-3DAE-4EA4-A69A-F887A547998D}"),
                                      "ZEMOR.FlacEncoder.1", "ZEMOR.FlacEncoder", "KivFlacEncoder Class", 101, false,
                                      &kModuleFlac, u"KivFlacEncoderHelper"};
const ClassIdentity kClassFlacDecoder{"KivFlacDecoder", MakeGuid("{02BA25D8-CCAC-40B6-881F-D2CF979B5FA9}"),
                                      "ZEMOR.FlacDecoder.1", "ZEMOR.FlacDecoder", "KivFlacDecoder Class", 103, true,
                                      &kModuleFlac, u"KivFlacDecoderHelper"};
const ClassIdentity kClassOpusEncoder{"KivOpusEncoder", MakeGuid("{D403D03D-B5B7-4577-A9AD-A87B3FD2F6D2}"),
                                      "ZEMOR.OpusEncoder.1", "ZEMOR.OpusEncoder", "KivOpusEncoder Class", 101, false,
                                      &kModuleOpus, u"KivOpusEncoderHelper"};
const ClassIdentity kClassOpusDecoder{"KivOpusDecoder", MakeGuid("{AC8AA1D5-BEAF-49E0-8A17-FDEA44483D69}"),
                                      "ZEMOR.OpusDecoder.1", "ZEMOR.OpusDecoder", "KivOpusDecoder Class", 103, true,
                                      &kModuleOpus, u"KivOpusDecoderHelper"};
const ClassIdentity kClassAudioConverter{"KivAudioConverter", MakeGuid("{8A96FA28-7162-4544-8D60-2757A2338732}"),
                                         "ZEMOR.AudioConverter.1", "ZEMOR.AudioConverter", "KivAudioConverter Class",
                                         101, true, &kModuleConverter, u"KivAudioConverterHelper"};
const ClassIdentity kClassAudioPlayer{"KivAudioPlayer", MakeGuid("{85C4A6A3-E5CD-4CCE-9685-A3C779DB5650}"),
                                      "ZEMOR.AudioPlayer.1", "ZEMOR.AudioPlayer", "KivAudioPlayer Class", 101, true,
                                      &kModulePlayer, u"KivPlayerHelper"};
const ClassIdentity kClassCdRipper{"KivCDRipper", MakeGuid("{624CFFE1-7777-49DE-B6E2-C8A58934B10E}"),
                                   "ZEMOR.CDRipper.1", "ZEMOR.CDRipper", "CDRipper Class", 101, false, &kModuleCdRip,
                                   u"KivCDRipperHelper"};

std::span<const ModuleIdentity* const> AllModules() {
    static const ModuleIdentity* const all[] = {&kModuleWave,      &kModuleMp3,    &kModuleVorbis, &kModuleWma,
                                                &kModuleFlac,      &kModuleOpus,   &kModuleConverter,
                                                &kModulePlayer,    &kModuleCdRip};
    return all;
}

std::span<const ClassIdentity* const> AllClasses() {
    static const ClassIdentity* const all[] = {
        &kClassWaveEncoder, &kClassWaveDecoder, &kClassMp3Encoder,     &kClassMp3Decoder,
        &kClassVorbisEncoder, &kClassVorbisDecoder, &kClassWmaEncoder, &kClassWmaDecoder,
        &kClassFlacEncoder, &kClassFlacDecoder, &kClassOpusEncoder, &kClassOpusDecoder,
        &kClassAudioConverter, &kClassAudioPlayer, &kClassCdRipper};
    return all;
}

const ClassIdentity* FindClass(const CLSID& clsid) {
    for (const ClassIdentity* c : AllClasses())
        if (c->clsid == clsid) return c;
    return nullptr;
}

}  // namespace kiv
