#include "components/common/module_server.h"
#include "components/flac/flac_decoder.h"
#include "components/flac/flac_encoder.h"

namespace kiv {

const ServerModule& ThisModule() {
    static const ServerClass classes[] = {
        {&kClassFlacEncoder, &FlacEncoder::Create},
        {&kClassFlacDecoder, &FlacDecoder::Create},
    };
    static const ServerModule module{&kModuleFlac, classes};
    return module;
}

}  // namespace kiv
