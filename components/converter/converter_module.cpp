#include "components/common/module_server.h"
#include "components/converter/audio_converter.h"

namespace kiv {

const ServerModule& ThisModule() {
    static const ServerClass classes[] = {{&kClassAudioConverter, &AudioConverter::Create}};
    static const ServerModule module{&kModuleConverter, classes};
    return module;
}

}  // namespace kiv
