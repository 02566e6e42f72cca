// Loudness in Opus files. Opus keeps it its own way: R128_TRACK_GAIN and
// R128_ALBUM_GAIN, the gain to -23 LUFS as a whole number of 1/256 dB,
// and no peaks (the REPLAYGAIN_* comments are not to be used there). The
// codec carries them as the same REPLAYGAIN_*_GAIN fields as every other
// format, 5 dB apart (ReplayGain's reference is -18 LUFS).
#pragma once

#include <vector>

#include "components/common/tag_record.h"
#include "components/vorbis/vorbis_comments.h"

namespace kiv::opus {

// The fields less the ReplayGain ones, and the R128 comments they give.
void SplitGainFields(const std::vector<TagField>& fields, std::vector<TagField>& others,
                     std::vector<vorbis::Comment>& r128);

// The ReplayGain fields of a file's R128 comments, added to `fields`.
void AddGainFields(const vorbis::CommentTable& table, std::vector<TagField>& fields);

}  // namespace kiv::opus
