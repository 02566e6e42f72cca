// The RIFF/WAVE chunk walk: opening, the format and data chunks, reading
// and seeking the samples, and the format-tag peek of decoder selection.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "components/common/wav_source_reader.h"
#include "platform/riff/pcm_layout.h"
#include "fuzz/memory_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kiv::fuzz::MemoryFile file(data, size);

    kiv::WORD tag = 0;
    kiv::ReadWaveFormatTag(file.path(), tag);

    kiv::WavSourceReader reader;
    if (kiv::FAILED(reader.Open(file.path()))) return 0;
    // Every field of the promised 18 bytes must be readable.
    const kiv::WAVEFORMATEX& format = reader.format();
    volatile kiv::WORD extra = format.cbSize;
    (void)extra;
    // The sample layout reads the record with the cbSize bytes it announces.
    if (auto layout = kiv::ReadPcmLayout(format)) (void)kiv::MakePcmFormatRecord(*layout);

    std::vector<std::uint8_t> buffer(4096);
    std::int64_t total = 0;
    for (long n; (n = reader.Read(buffer.data(), buffer.size())) > 0;) total += n;
    // The data chunk bounds the samples, whatever the file holds after it.
    if (total > std::int64_t(reader.dataSize())) std::abort();
    if (reader.SeekData(reader.dataSize() / 2)) reader.Read(buffer.data(), buffer.size());
    reader.Close();
    return 0;
}
