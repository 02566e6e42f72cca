#include "components/cdrip/cd_ripper.h"
#include "components/common/module_server.h"

namespace kiv {

const ServerModule& ThisModule() {
    static const ServerClass classes[] = {{&kClassCdRipper, &cdrip::CdRipper::Create}};
    static const ServerModule module{&kModuleCdRip, classes};
    return module;
}

}  // namespace kiv
