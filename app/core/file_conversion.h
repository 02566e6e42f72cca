// Converts one file through the converter component: the decoder picked by
// the source's type, the encoder by the destination's extension. The output
// is written under a temporary name beside the destination and renamed into
// place only when the conversion succeeded, so a failed or interrupted
// conversion never leaves a file that looks complete, and an existing
// destination is only replaced by a finished one.
#pragma once

#include <functional>
#include <string>

#include "components/common/interfaces.h"

namespace kiv::app {

// The output mode asked of the encoder; Default leaves the encoder's own.
enum class OutputMode { Default, Cbr, Abr, Vbr };

struct ConversionRequest {
    std::string source;       // path of the file to convert
    std::string destination;  // full path of the file to write
    bool overwrite = false;   // replace an existing destination
    bool keepTags = true;
    OutputMode mode = OutputMode::Default;
    double value = 0;  // Cbr/Abr: kbit/s; Vbr: quality 0..1
};

struct ConversionOutcome {
    enum class Status { Done, Skipped, Failed };
    Status status = Status::Failed;
    std::string message;  // why it was skipped or failed
    std::string warning;  // an output mode the encoder refused (its default was used)
};

// Asks the encoder for the mode; an empty text when it took it, else the
// encoder's words for the refusal (the encoder then keeps its default).
std::string ApplyOutputMode(IKivAudioEncoder* encoder, OutputMode mode, double value);

// Called on the calling thread whenever the converter reports progress.
using ProgressFn = std::function<void(int percent)>;

// Runs the conversion on the converter's worker thread and pumps the calling
// thread's message queue until the converter has finished.
ConversionOutcome ConvertFile(const ConversionRequest& request, const ProgressFn& progress = {});

// A text for an HRESULT without error info.
std::string DescribeResult(HRESULT hr);

}  // namespace kiv::app
