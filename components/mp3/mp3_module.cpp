#include "components/common/module_server.h"
#include "components/mp3/mp3_decoder.h"
#include "components/mp3/mp3_encoder.h"

namespace kiv {

const ServerModule& ThisModule() {
    static const ServerClass classes[] = {
        {&kClassMp3Encoder, &Mp3Encoder::Create},
        {&kClassMp3Decoder, &Mp3Decoder::Create},
    };
    static const ServerModule module{&kModuleMp3, classes};
    return module;
}

}  // namespace kiv
