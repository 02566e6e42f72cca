#include "components/common/module_server.h"
#include "components/player/audio_player.h"

namespace kiv {

const ServerModule& ThisModule() {
    static const ServerClass classes[] = {{&kClassAudioPlayer, &AudioPlayer::Create}};
    static const ServerModule module{&kModulePlayer, classes};
    return module;
}

}  // namespace kiv
