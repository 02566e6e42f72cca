#include "components/common/module_server.h"
#include "components/opus/opus_decoder.h"
#include "components/opus/opus_encoder.h"

namespace kiv {

const ServerModule& ThisModule() {
    static const ServerClass classes[] = {
        {&kClassOpusEncoder, &OpusEncoder::Create},
        {&kClassOpusDecoder, &OpusDecoder::Create},
    };
    static const ServerModule module{&kModuleOpus, classes};
    return module;
}

}  // namespace kiv
