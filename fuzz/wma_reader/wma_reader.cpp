// Our layer over FFmpeg's ASF reading: stream discovery, the profile, the
// header attributes and the first decoded samples, from a file in memory.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "fuzz/memory_file.h"
#include "platform/media/handle_stream.h"
#include "platform/media/media_props.h"
#include "platform/media/profile.h"
#include "platform/media/stream_config.h"
#include "platform/media/sync_reader.h"

namespace {

using namespace kiv;
using namespace kiv::media;

constexpr std::array<std::u16string_view, 9> kNames = {
    u"Duration", u"Title", u"Author", u"Description", u"WM/AlbumTitle",
    u"WM/Genre", u"WM/Year", u"WM/TrackNumber", u"WM/Track"};

void ReadAttributes(const SyncReader& reader) {
    for (std::u16string_view name : kNames) {
        WORD stream = 0, length = 0;
        AttrType type{};
        if (FAILED(reader.GetAttributeByName(&stream, name, &type, nullptr, &length))) continue;
        std::vector<BYTE> value(length);
        if (FAILED(reader.GetAttributeByName(&stream, name, &type, value.data(), &length))) std::abort();
    }
}

void ReadStreams(SyncReader& reader) {
    std::unique_ptr<Profile> profile;
    if (FAILED(reader.GetProfile(profile))) return;
    for (DWORD i = 0; i < profile->GetStreamCount(); ++i) {
        std::unique_ptr<StreamConfig> config;
        if (FAILED(profile->GetStream(i, config))) std::abort();
        WAVEFORMATEX wfx{};
        config->GetMediaType().GetWaveFormat(wfx);
        DWORD output = 0;
        if (FAILED(reader.GetOutputNumberForStream(config->GetStreamNumber(), &output))) continue;
        std::unique_ptr<MediaProps> props;
        reader.GetOutputProps(output, props);
    }
}

}  // namespace

// The library's warnings about broken files would drown the fuzzer's own
// output and slow it down.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    av_log_set_level(AV_LOG_QUIET);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kiv::fuzz::MemoryFile file(data, size);
    std::unique_ptr<SyncReader> reader;
    if (FAILED(SyncReader::Create(reader))) std::abort();
    if (FAILED(reader->OpenStream(std::make_unique<HandleStream>(file.fd())))) return 0;
    ReadAttributes(*reader);
    ReadStreams(*reader);
    // A few blocks are enough to reach every branch of our own code; the
    // decoding itself is the library's.
    for (int i = 0; i < 8; ++i) {
        std::unique_ptr<SampleBuffer> sample;
        QWORD time = 0, duration = 0;
        if (FAILED(reader->GetNextSample(0, sample, &time, &duration))) break;
    }
    if (SUCCEEDED(reader->SetRange(10'000'000, 0))) {
        std::unique_ptr<SampleBuffer> sample;
        QWORD time = 0, duration = 0;
        reader->GetNextSample(0, sample, &time, &duration);
    }
    (void)reader->GetDamage();
    reader->Close();
    return 0;
}
