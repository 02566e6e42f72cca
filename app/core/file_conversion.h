// Converts one file through the converter component: the decoder picked by
// the source's type, the encoder by the destination's extension. The output
// is written under a temporary name beside the destination and renamed into
// place only when the conversion succeeded, so a failed or interrupted
// conversion never leaves a file that looks complete, and an existing
// destination is only replaced by a finished one.
#pragma once

#include <functional>
#include <string>

#include "platform/com/types.h"

namespace kiv::app {

struct ConversionRequest {
    std::string source;       // path of the file to convert
    std::string destination;  // full path of the file to write
    bool overwrite = false;   // replace an existing destination
    bool keepTags = true;
};

struct ConversionOutcome {
    enum class Status { Done, Skipped, Failed };
    Status status = Status::Failed;
    std::string message;  // why it was skipped or failed
};

// Called on the calling thread whenever the converter reports progress.
using ProgressFn = std::function<void(int percent)>;

// Runs the conversion on the converter's worker thread and pumps the calling
// thread's message queue until the converter has finished.
ConversionOutcome ConvertFile(const ConversionRequest& request, const ProgressFn& progress = {});

// A text for an HRESULT without error info.
std::string DescribeResult(HRESULT hr);

}  // namespace kiv::app
