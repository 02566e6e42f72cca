// Small pieces every batch needs around the components: error texts, the
// output mode asked of an encoder, and the temporary name a destination is
// written under until it is complete.
#pragma once

#include <string>

#include "app/core/output_planning.h"
#include "app/core/settings.h"
#include "components/common/interfaces.h"

namespace kiv::app {

// A text for an HRESULT without error info.
std::string DescribeResult(HRESULT hr);

// The failing call's own error text when it left one, else DescribeResult.
std::string ComponentErrorText(HRESULT hr);

// Asks the encoder for the mode: CBR and ABR `value` in kbit/s, VBR in
// percent. An empty text when it took it, else the encoder's words for the
// refusal (the encoder then keeps its default).
std::string ApplyOutputMode(IKivAudioEncoder* encoder, QualityMode mode, int value);

// The chosen quality asked of an encoder for a file of `format`, when the
// format offers the mode. `taken`: the encoder accepted it; `refusal`: the
// log line (" The encoder refused ... Its default is used.") when it did not.
struct QualityOutcome {
    bool taken = false;
    std::string refusal;
};
QualityOutcome ApplyQuality(IKivAudioEncoder* encoder, const OutputChoices& choices, const std::string& format);

// " The encoder refused MODE (REASON). Converting again with its default."
// for a quality an encoder took but then could not set up.
std::string LateRefusalLine(const OutputChoices& choices, const std::string& reason, const char* again);

// The failure is an encoder's refusal of the output mode it was asked for
// (told only when it first sees the input), not a failure of the file.
bool IsOutputModeRefusal(const std::string& message);

// A source that gave no sample at all.
inline constexpr const char* kNoAudioMessage = "The source file holds no audio that could be decoded.";

// For a WMA file written at a constant bitrate: the line telling that the
// codec had no such bitrate for the source and which one it took instead
// (it takes the nearest it offers), read from the finished file; empty when
// the file has the bitrate asked for or cannot be read.
std::string SubstitutedBitrateLine(const OutputChoices& choices, const std::string& format,
                                   const std::string& finishedFile);

// Turns loudness measuring on in an encoder before its stream starts; the
// encoder's measuring interface, or null for an encoder whose format has no
// place for ReplayGain values (WAV).
ComPtr<IKivReplayGain> MeasureTrackGain(IKivAudioEncoder* encoder);

// " ReplayGain: -7.23 dB, peak 0.988312": the values of the stream the
// encoder closed last; empty when it has none (too short, silent).
std::string ReplayGainLine(IKivReplayGain* measured);

// "CBR 128 kbit/s", "VBR 60%".
std::string DescribeOutputMode(QualityMode mode, int value);

// A hidden name beside the destination, unique to this process, keeping the
// destination's extension so the encoder adds none. The name carries the
// process id and the process's start time, so a later run can tell the
// leftovers of a process that was killed from those of one still at work.
std::string TemporaryPathFor(const std::string& destination);

// Removes from `folder` the temporaries of our processes that no longer run
// (ended by SIGKILL, say): only names TemporaryPathFor makes, only files of
// this user, only when their process is gone or is another one by now.
// Returns how many were removed.
int RemoveStaleTemporaries(const std::string& folder);

// RemoveStaleTemporaries with its log line (" Removed 2 unfinished files
// ..."), empty when there was nothing to remove.
std::string SweepStaleTemporaries(const std::string& folder);

// The folder part of a path ("" for a bare name).
std::string DirectoryOf(const std::string& path);

// Both paths name the same existing file.
bool SameFile(const std::string& a, const std::string& b);

}  // namespace kiv::app
