#include "components/common/module_server.h"
#include "components/vorbis/vorbis_decoder.h"
#include "components/vorbis/vorbis_encoder.h"

namespace kiv {

const ServerModule& ThisModule() {
    static const ServerClass classes[] = {
        {&kClassVorbisEncoder, &VorbisEncoder::Create},
        {&kClassVorbisDecoder, &VorbisDecoder::Create},
    };
    static const ServerModule module{&kModuleVorbis, classes};
    return module;
}

}  // namespace kiv
