// Folders of an output file. They are made by path, never by changing the
// process's current directory: the host's threads share that directory and
// an extraction thread must not move it under them.
#pragma once

#include <string>

namespace kiv::cdrip {

// Creates every missing folder of the path up to its last '/'. Failures are
// left to the following file open, which reports them.
void CreateParentFolders(const std::string& filePath);

}  // namespace kiv::cdrip
