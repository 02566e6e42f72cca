// The attribute objects of an ASF header as we read them off a file and
// write them back: whatever the input, reading stays inside it; what we
// write from what was read reads back the same, name by name; and the tag
// fields and pictures are taken from it safely.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "components/wma/tag_attributes.h"
#include "fuzz/memory_file.h"
#include "platform/media/asf_header.h"
#include "platform/media/header_attributes.h"

namespace {

using namespace kiv;
using namespace kiv::media;
using Bytes = std::vector<BYTE>;

void Put(Bytes& out, const void* data, std::size_t size) {
    const auto* p = static_cast<const BYTE*>(data);
    out.insert(out.end(), p, p + size);
}

void PutNumber(Bytes& out, std::uint64_t v, int size) {
    for (int i = 0; i < size; ++i) out.push_back(static_cast<BYTE>(v >> (8 * i)));
}

// A header as FFmpeg writes it, without attributes: file properties and an
// empty header extension.
Bytes PlainHeader() {
    static const BYTE kHeader[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                     0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
    static const BYTE kFileProperties[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                             0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
    static const BYTE kExtension[16] = {0xB5, 0x03, 0xBF, 0x5F, 0x2E, 0xA9, 0xCF, 0x11,
                                        0x8E, 0xE3, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
    static const BYTE kReserved[16] = {0x11, 0xD2, 0xD3, 0xAB, 0xBA, 0xA9, 0xCF, 0x11,
                                       0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
    Bytes b;
    Put(b, kHeader, 16);
    PutNumber(b, 30 + 104 + 46, 8);
    PutNumber(b, 2, 4);
    b.push_back(1);
    b.push_back(2);
    Put(b, kFileProperties, 16);
    PutNumber(b, 104, 8);
    b.resize(b.size() + 80, 0);
    Put(b, kExtension, 16);
    PutNumber(b, 46, 8);
    Put(b, kReserved, 16);
    PutNumber(b, 6, 2);
    PutNumber(b, 0, 4);
    return b;
}

std::map<std::u16string, std::vector<std::pair<AttrType, Bytes>>> ByName(const HeaderAttributes& a) {
    std::map<std::u16string, std::vector<std::pair<AttrType, Bytes>>> out;
    for (const auto& e : a.Entries()) out[e.name].emplace_back(e.type, e.value);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Off a file in short reads, as far as the file goes.
    kiv::fuzz::MemoryFile file(data, size);
    const Bytes header = asf::ReadHeaderObject(
        [&](BYTE* buffer, std::size_t wanted) -> std::size_t {
            const ssize_t got = ::read(file.fd(), buffer, std::min(wanted, std::size_t{777}));
            return got > 0 ? static_cast<std::size_t>(got) : 0;
        },
        std::size_t{1} << 20);
    HeaderAttributes read;
    if (!asf::ReadAttributes(header, read)) return 0;

    const wma::AttributeLister list = wma::ListAttributesOf(read);
    (void)wma::ReadTagAttributes(list);
    for (const TagPicture& p : wma::ReadPictureAttributes(list))
        if (p.data.empty() || p.data.size() > kMaxTagPictureBytes) std::abort();

    Bytes rebuilt;
    if (FAILED(asf::BuildHeader(PlainHeader(), read, 0, rebuilt))) std::abort();
    HeaderAttributes again;
    if (!asf::ReadAttributes(rebuilt, again) || ByName(again) != ByName(read)) std::abort();

    // A well-formed input header is rebuilt too (a malformed one refused).
    Bytes own;
    (void)asf::BuildHeader(header, read, 0, own);
    return 0;
}
