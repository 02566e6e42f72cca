#include "components/common/module_server.h"
#include "components/wma/wma_decoder.h"
#include "components/wma/wma_encoder.h"

namespace kiv {

const ServerModule& ThisModule() {
    static const ServerClass classes[] = {
        {&kClassWmaEncoder, &WmaEncoder::Create},
        {&kClassWmaDecoder, &WmaDecoder::Create},
    };
    static const ServerModule module{&kModuleWma, classes};
    return module;
}

}  // namespace kiv
