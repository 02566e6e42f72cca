#include "components/cdrip/output_folders.h"

#include <filesystem>
#include <system_error>

namespace kiv::cdrip {

void CreateParentFolders(const std::string& filePath) {
    const auto slash = filePath.rfind('/');
    if (slash == std::string::npos || slash == 0) return;
    std::error_code ignored;
    std::filesystem::create_directories(filePath.substr(0, slash), ignored);
}

}  // namespace kiv::cdrip
