#include "components/common/module_server.h"
#include "components/wave/wave_decoder.h"
#include "components/wave/wave_encoder.h"

namespace kiv {

const ServerModule& ThisModule() {
    static const ServerClass classes[] = {
        {&kClassWaveEncoder, &WaveEncoder::Create},
        {&kClassWaveDecoder, &WaveDecoder::Create},
    };
    static const ServerModule module{&kModuleWave, classes};
    return module;
}

}  // namespace kiv
