#include "platform/media/asf_header.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <unordered_set>

#include "platform/system/pipe.h"

namespace kiv::media::asf {

namespace {

constexpr GUID kHeaderObject = MakeGuid("{75B22630-668E-11CF-A6D9-00AA0062CE6C}");
constexpr GUID kFileProperties = MakeGuid("{8CABDCA1-A947-11CF-8EE4-00C00C205365}");
constexpr GUID kContentDescription = MakeGuid("{75B22633-668E-11CF-A6D9-00AA0062CE6C}");
constexpr GUID kExtendedContentDescription = MakeGuid("{D2D0A440-E307-11D2-97F0-00A0C95EA850}");
constexpr GUID kHeaderExtension = MakeGuid("{5FBF03B5-A92E-11CF-8EE3-00C00C205365}");
constexpr GUID kHeaderExtensionReserved = MakeGuid("{ABD3D211-A9BA-11CF-8EE6-00C00C205365}");
constexpr GUID kMetadata = MakeGuid("{C5F8CBEA-5BAF-4877-8467-AA8C44FA4CCA}");
constexpr GUID kMetadataLibrary = MakeGuid("{44231C94-9498-49D1-A141-1D134E457054}");

constexpr std::size_t kObjectHead = 24;           // GUID and 64-bit size
constexpr std::size_t kHeaderHead = 30;           // and object count, two reserved bytes
constexpr std::size_t kExtensionFields = 22;      // reserved GUID and WORD, data size
constexpr std::size_t kFileSizeAt = 40;           // in the file properties, behind the file id
constexpr std::size_t kFilePropertiesSize = 104;  // fixed by the format
constexpr std::size_t kMoveBlock = std::size_t{1} << 20;

constexpr std::u16string_view kDescriptionNames[] = {u"Title", u"Author", u"Copyright", u"Description", u"Rating"};

// Value types as the header objects number them (not the runtime's order).
enum : WORD { kString = 0, kBytes = 1, kBool = 2, kDword = 3, kQword = 4, kWord = 5, kGuid = 6 };

QWORD LittleEndian(const BYTE* p, std::size_t size) {
    QWORD v = 0;
    for (std::size_t i = size; i-- > 0;) v = (v << 8) | p[i];
    return v;
}

void PutNumber(std::vector<BYTE>& out, QWORD v, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) out.push_back(static_cast<BYTE>(v >> (8 * i)));
}

void PutGuid(std::vector<BYTE>& out, const GUID& g) {
    PutNumber(out, g.Data1, 4);
    PutNumber(out, g.Data2, 2);
    PutNumber(out, g.Data3, 2);
    out.insert(out.end(), std::begin(g.Data4), std::end(g.Data4));
}

bool IsGuid(std::span<const BYTE> bytes, const GUID& g) {
    std::vector<BYTE> form;
    PutGuid(form, g);
    return bytes.size() >= form.size() && std::equal(form.begin(), form.end(), bytes.begin());
}

// Reads fields off a span and never past it.
class Cursor {
public:
    explicit Cursor(std::span<const BYTE> bytes) : bytes_(bytes) {}
    bool Take(std::size_t size, std::span<const BYTE>& out) {
        if (size > bytes_.size() - at_) return false;
        out = bytes_.subspan(at_, size);
        at_ += size;
        return true;
    }
    template <class T>
    bool Number(T& v) {
        std::span<const BYTE> b;
        if (!Take(sizeof(T), b)) return false;
        v = static_cast<T>(LittleEndian(b.data(), b.size()));
        return true;
    }

private:
    std::span<const BYTE> bytes_;
    std::size_t at_ = 0;
};

// One attribute as a header object holds it, into the runtime's layout. A
// boolean is a DWORD in the extended content description and a WORD in the
// metadata objects; a value of the wrong size for its type is passed over.
void AddFromFile(HeaderAttributes& out, std::span<const BYTE> name, WORD type, std::span<const BYTE> value) {
    const std::u16string key = Utf16Text(name);
    auto add = [&](AttrType t, const BYTE* v, std::size_t size) {
        out.AddAttribute(0, key, nullptr, t, v, static_cast<DWORD>(size));
    };
    auto fixed = [&](AttrType t, std::size_t size) {
        if (value.size() == size) add(t, value.data(), size);
    };
    switch (type) {
        case kString: add(AttrType::String, value.data(), value.size() & ~std::size_t{1}); break;
        case kBytes: add(AttrType::Binary, value.data(), value.size()); break;
        case kBool:
            if (value.size() == 2 || value.size() == 4) {
                const BYTE flag[4] = {LittleEndian(value.data(), value.size()) != 0, 0, 0, 0};
                add(AttrType::Bool, flag, sizeof flag);
            }
            break;
        case kDword: fixed(AttrType::Dword, 4); break;
        case kQword: fixed(AttrType::Qword, 8); break;
        case kWord: fixed(AttrType::Word, 2); break;
        case kGuid: fixed(AttrType::Guid, 16); break;
        default: break;
    }
}

void ReadContentDescription(std::span<const BYTE> body, HeaderAttributes& out) {
    Cursor c(body);
    WORD lengths[5] = {};
    for (WORD& length : lengths)
        if (!c.Number(length)) return;
    for (std::size_t i = 0; i < 5; ++i) {
        std::span<const BYTE> text;
        if (!c.Take(lengths[i], text)) return;
        // The object has a place for each of the five; an empty one is absent.
        if (!Utf16Text(text).empty()) {
            const std::u16string_view name = kDescriptionNames[i];
            out.AddAttribute(0, name, nullptr, AttrType::String, text.data(),
                             static_cast<DWORD>(text.size() & ~std::size_t{1}));
        }
    }
}

void ReadExtendedContentDescription(std::span<const BYTE> body, HeaderAttributes& out) {
    Cursor c(body);
    WORD count = 0;
    if (!c.Number(count)) return;
    for (WORD i = 0; i < count; ++i) {
        WORD nameLength = 0, type = 0, valueLength = 0;
        std::span<const BYTE> name, value;
        if (!c.Number(nameLength) || !c.Take(nameLength, name) || !c.Number(type) || !c.Number(valueLength) ||
            !c.Take(valueLength, value))
            return;
        AddFromFile(out, name, type, value);
    }
}

// The metadata object and the metadata library share their record layout
// (the first field is the language in the library, reserved in the other).
// Records of a single stream are not file-level attributes.
void ReadMetadata(std::span<const BYTE> body, HeaderAttributes& out) {
    Cursor c(body);
    WORD count = 0;
    if (!c.Number(count)) return;
    for (WORD i = 0; i < count; ++i) {
        WORD language = 0, stream = 0, nameLength = 0, type = 0;
        DWORD valueLength = 0;
        std::span<const BYTE> name, value;
        if (!c.Number(language) || !c.Number(stream) || !c.Number(nameLength) || !c.Number(type) ||
            !c.Number(valueLength) || !c.Take(nameLength, name) || !c.Take(valueLength, value))
            return;
        if (stream == 0) AddFromFile(out, name, type, value);
    }
}

struct Found {
    std::vector<std::span<const BYTE>> description, extended, metadata, library;
};

// The objects laid end to end in `objects`; the header extension's own
// objects are looked into once.
void Collect(std::span<const BYTE> objects, bool inExtension, Found& found) {
    std::size_t at = 0;
    while (objects.size() - at >= kObjectHead) {
        const std::span<const BYTE> head = objects.subspan(at, kObjectHead);
        const QWORD size = LittleEndian(head.data() + 16, 8);
        if (size < kObjectHead || size > objects.size() - at) return;
        const std::span<const BYTE> body = objects.subspan(at + kObjectHead, size - kObjectHead);
        if (IsGuid(head, kContentDescription)) found.description.push_back(body);
        else if (IsGuid(head, kExtendedContentDescription)) found.extended.push_back(body);
        else if (IsGuid(head, kMetadata)) found.metadata.push_back(body);
        else if (IsGuid(head, kMetadataLibrary)) found.library.push_back(body);
        else if (IsGuid(head, kHeaderExtension) && !inExtension && body.size() >= kExtensionFields) {
            const QWORD dataSize = LittleEndian(body.data() + 18, 4);
            const std::span<const BYTE> inner = body.subspan(kExtensionFields);
            Collect(inner.first(std::min<QWORD>(dataSize, inner.size())), true, found);
        }
        at += size;
    }
}

std::size_t ReadUpTo(const std::function<std::size_t(BYTE*, std::size_t)>& read, BYTE* buffer, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const std::size_t got = read(buffer + done, size - done);
        if (got == 0) break;
        done += got;
    }
    return done;
}

// Where each attribute goes (see the header comment).
struct Placement {
    const HeaderAttributes::Entry* description[5] = {};
    std::vector<const HeaderAttributes::Entry*> extended, library;
};

Placement Place(const HeaderAttributes& attributes) {
    Placement p;
    std::unordered_set<std::u16string> seen;
    for (const auto& e : attributes.Entries()) {
        const bool first = seen.insert(e.name).second;
        const bool fitsWord = e.value.size() + (e.type == AttrType::String ? 2 : 0) <= 0xFFFF;
        const auto named = std::find(std::begin(kDescriptionNames), std::end(kDescriptionNames), e.name);
        const bool describes = named != std::end(kDescriptionNames);
        // An empty text would read as absent from the content description.
        if (first && describes && e.type == AttrType::String && !e.value.empty() && fitsWord)
            p.description[named - std::begin(kDescriptionNames)] = &e;
        else if (first && !describes && e.type != AttrType::Guid && fitsWord)
            p.extended.push_back(&e);
        else
            p.library.push_back(&e);
    }
    return p;
}

WORD FileType(AttrType type) {
    switch (type) {
        case AttrType::String: return kString;
        case AttrType::Binary: return kBytes;
        case AttrType::Bool: return kBool;
        case AttrType::Dword: return kDword;
        case AttrType::Qword: return kQword;
        case AttrType::Word: return kWord;
        case AttrType::Guid: return kGuid;
    }
    return kBytes;
}

// The value as the object stores it: strings with their terminator,
// booleans in `boolSize` bytes.
void PutValue(std::vector<BYTE>& out, const HeaderAttributes::Entry& e, std::size_t boolSize) {
    if (e.type == AttrType::Bool) PutNumber(out, LittleEndian(e.value.data(), e.value.size()) != 0, boolSize);
    else out.insert(out.end(), e.value.begin(), e.value.end());
    if (e.type == AttrType::String) PutNumber(out, 0, 2);
}

std::size_t StoredSize(const HeaderAttributes::Entry& e, std::size_t boolSize) {
    if (e.type == AttrType::Bool) return boolSize;
    return e.value.size() + (e.type == AttrType::String ? 2 : 0);
}

void PutObject(std::vector<BYTE>& out, const GUID& guid, const std::vector<BYTE>& body) {
    PutGuid(out, guid);
    PutNumber(out, kObjectHead + body.size(), 8);
    out.insert(out.end(), body.begin(), body.end());
}

std::vector<BYTE> ContentDescriptionBody(const Placement& p) {
    std::vector<BYTE> body;
    if (std::none_of(std::begin(p.description), std::end(p.description), [](auto* e) { return e != nullptr; }))
        return body;
    for (const auto* e : p.description) PutNumber(body, e ? StoredSize(*e, 0) : 0, 2);
    for (const auto* e : p.description)
        if (e) PutValue(body, *e, 0);
    return body;
}

std::vector<BYTE> ExtendedContentDescriptionBody(const Placement& p) {
    std::vector<BYTE> body;
    if (p.extended.empty()) return body;
    PutNumber(body, p.extended.size(), 2);
    for (const auto* e : p.extended) {
        PutNumber(body, (e->name.size() + 1) * 2, 2);
        AppendUtf16(body, e->name);
        PutNumber(body, FileType(e->type), 2);
        PutNumber(body, StoredSize(*e, 4), 2);
        PutValue(body, *e, 4);
    }
    return body;
}

std::vector<BYTE> MetadataLibraryBody(const Placement& p) {
    std::vector<BYTE> body;
    if (p.library.empty()) return body;
    PutNumber(body, p.library.size(), 2);
    for (const auto* e : p.library) {
        PutNumber(body, 0, 2);  // language: the first of the list, or none
        PutNumber(body, 0, 2);  // the whole file, not one stream
        PutNumber(body, (e->name.size() + 1) * 2, 2);
        PutNumber(body, FileType(e->type), 2);
        PutNumber(body, StoredSize(*e, 2), 4);
        AppendUtf16(body, e->name);
        PutValue(body, *e, 2);
    }
    return body;
}

// The objects laid end to end in `bytes`, which they must fill exactly.
bool SplitObjects(std::span<const BYTE> bytes, std::vector<std::span<const BYTE>>& out) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        if (bytes.size() - at < kObjectHead) return false;
        const QWORD size = LittleEndian(bytes.data() + at + 16, 8);
        if (size < kObjectHead || size > bytes.size() - at) return false;
        out.push_back(bytes.subspan(at, size));
        at += size;
    }
    return true;
}

// The header extension with the metadata library in place of the one it
// held; `old` is empty when the header had none.
bool HeaderExtension(std::span<const BYTE> old, const std::vector<BYTE>& library, std::vector<BYTE>& out) {
    std::vector<BYTE> body;
    std::vector<std::span<const BYTE>> inner;
    if (old.empty()) {
        PutGuid(body, kHeaderExtensionReserved);
        PutNumber(body, 6, 2);
    } else {
        if (old.size() < kObjectHead + kExtensionFields) return false;
        const std::span<const BYTE> fields = old.subspan(kObjectHead, kExtensionFields);
        const std::span<const BYTE> objects = old.subspan(kObjectHead + kExtensionFields);
        if (LittleEndian(fields.data() + 18, 4) != objects.size() || !SplitObjects(objects, inner)) return false;
        body.insert(body.end(), fields.begin(), fields.begin() + 18);
    }
    std::vector<BYTE> data;
    for (const auto& object : inner)
        if (!IsGuid(object, kMetadataLibrary)) data.insert(data.end(), object.begin(), object.end());
    if (!library.empty()) PutObject(data, kMetadataLibrary, library);
    PutNumber(body, data.size(), 4);
    body.insert(body.end(), data.begin(), data.end());
    PutObject(out, kHeaderExtension, body);
    return true;
}

HRESULT SystemFailure() { return HRESULT_FROM_WIN32(static_cast<std::uint32_t>(errno != 0 ? errno : EIO)); }

HRESULT ReadAt(int fd, BYTE* buffer, std::size_t size, QWORD offset) {
    if (lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) return SystemFailure();
    const long got = ReadFull(fd, buffer, size);
    if (got < 0) return SystemFailure();
    // Short: the file is shorter than it just was.
    return static_cast<std::size_t>(got) == size ? S_OK : HRESULT_FROM_WIN32(EIO);
}

HRESULT WriteAt(int fd, const BYTE* data, std::size_t size, QWORD offset) {
    if (lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) return SystemFailure();
    return WriteAll(fd, data, size) ? S_OK : SystemFailure();
}

// Moves `length` bytes at `from` to `to`; the ranges may overlap.
HRESULT Move(int fd, QWORD from, QWORD to, QWORD length) {
    if (from == to || length == 0) return S_OK;
    std::vector<BYTE> buffer(static_cast<std::size_t>(std::min<QWORD>(length, kMoveBlock)));
    for (QWORD done = 0; done < length;) {
        const std::size_t n = static_cast<std::size_t>(std::min<QWORD>(buffer.size(), length - done));
        // Moving up, the end goes first; moving down, the start: either way
        // nothing is overwritten before it has been read.
        const QWORD offset = to > from ? length - done - n : done;
        if (HRESULT hr = ReadAt(fd, buffer.data(), n, from + offset); FAILED(hr)) return hr;
        if (HRESULT hr = WriteAt(fd, buffer.data(), n, to + offset); FAILED(hr)) return hr;
        done += n;
    }
    return S_OK;
}

}  // namespace

std::vector<BYTE> ReadHeaderObject(const std::function<std::size_t(BYTE* buffer, std::size_t size)>& read,
                                   std::size_t limit) {
    std::vector<BYTE> bytes(kHeaderHead);
    if (limit < kHeaderHead || ReadUpTo(read, bytes.data(), kHeaderHead) != kHeaderHead ||
        !IsGuid(bytes, kHeaderObject))
        return {};
    const QWORD claimed = LittleEndian(bytes.data() + 16, 8);
    const std::size_t target = static_cast<std::size_t>(std::min<QWORD>(claimed, limit));
    // Grown by what was read, never by what the header claims.
    while (bytes.size() < target) {
        const std::size_t old = bytes.size();
        const std::size_t step = std::min(kMoveBlock, target - old);
        bytes.resize(old + step);
        const std::size_t got = ReadUpTo(read, bytes.data() + old, step);
        bytes.resize(old + got);
        if (got < step) break;
    }
    return bytes;
}

bool ReadAttributes(std::span<const BYTE> header, HeaderAttributes& out) {
    if (header.size() < kHeaderHead || !IsGuid(header, kHeaderObject)) return false;
    const QWORD claimed = LittleEndian(header.data() + 16, 8);
    if (claimed < kHeaderHead) return false;
    const std::size_t end = static_cast<std::size_t>(std::min<QWORD>(claimed, header.size()));
    Found found;
    Collect(header.subspan(kHeaderHead, end - kHeaderHead), false, found);
    HeaderAttributes description, extended;
    for (auto body : found.description) ReadContentDescription(body, description);
    for (auto body : found.extended) ReadExtendedContentDescription(body, extended);
    // FFmpeg writes the title and the author into the content description
    // and again among the extended attributes: one value, not two.
    const auto& d = description.Entries();
    for (const auto& e : d) out.AddAttribute(0, e.name, nullptr, e.type, e.value.data(), DWORD(e.value.size()));
    for (const auto& e : extended.Entries())
        if (std::none_of(d.begin(), d.end(), [&](const HeaderAttributes::Entry& c) {
                return c.name == e.name && c.type == e.type && c.value == e.value;
            }))
            out.AddAttribute(0, e.name, nullptr, e.type, e.value.data(), DWORD(e.value.size()));
    for (auto body : found.metadata) ReadMetadata(body, out);
    for (auto body : found.library) ReadMetadata(body, out);
    return true;
}

HRESULT BuildHeader(std::span<const BYTE> header, const HeaderAttributes& attributes, QWORD tailSize,
                    std::vector<BYTE>& out) {
    if (header.size() < kHeaderHead || !IsGuid(header, kHeaderObject) ||
        LittleEndian(header.data() + 16, 8) != header.size())
        return NS_E_INVALID_DATA;
    std::vector<std::span<const BYTE>> objects;
    if (!SplitObjects(header.subspan(kHeaderHead), objects)) return NS_E_INVALID_DATA;

    const Placement placement = Place(attributes);
    const std::vector<BYTE> description = ContentDescriptionBody(placement);
    const std::vector<BYTE> extended = ExtendedContentDescriptionBody(placement);
    const std::vector<BYTE> library = MetadataLibraryBody(placement);

    out.assign(header.begin(), header.begin() + kHeaderHead);
    DWORD count = 0;
    std::size_t fileProperties = 0;
    bool extension = false;
    // The header extension comes first, then the descriptions, where the
    // old ones stood.
    auto putAttributes = [&](std::span<const BYTE> oldExtension) {
        if (!HeaderExtension(oldExtension, library, out)) return false;
        ++count;
        if (!description.empty()) {
            PutObject(out, kContentDescription, description);
            ++count;
        }
        if (!extended.empty()) {
            PutObject(out, kExtendedContentDescription, extended);
            ++count;
        }
        extension = true;
        return true;
    };
    for (const auto& object : objects) {
        if (IsGuid(object, kContentDescription) || IsGuid(object, kExtendedContentDescription) ||
            IsGuid(object, kMetadataLibrary))
            continue;
        if (IsGuid(object, kHeaderExtension) && !extension) {
            if (!putAttributes(object)) return NS_E_INVALID_DATA;
            continue;
        }
        if (IsGuid(object, kFileProperties)) {
            if (object.size() != kFilePropertiesSize || fileProperties != 0) return NS_E_INVALID_DATA;
            fileProperties = out.size();
        }
        out.insert(out.end(), object.begin(), object.end());
        ++count;
    }
    if (fileProperties == 0) return NS_E_INVALID_DATA;
    if (!extension && !putAttributes({})) return NS_E_INVALID_DATA;

    std::vector<BYTE> head;
    PutGuid(head, kHeaderObject);
    PutNumber(head, out.size(), 8);
    PutNumber(head, count, 4);
    std::copy(head.begin(), head.end(), out.begin());
    std::vector<BYTE> fileSize;
    PutNumber(fileSize, out.size() + tailSize, 8);
    std::copy(fileSize.begin(), fileSize.end(), out.begin() + static_cast<std::ptrdiff_t>(fileProperties + kFileSizeAt));
    return S_OK;
}

HRESULT RewriteAttributes(int fd, const HeaderAttributes& attributes) {
    struct stat st {};
    if (fstat(fd, &st) != 0) return SystemFailure();
    const auto fileSize = static_cast<QWORD>(st.st_size);
    if (lseek(fd, 0, SEEK_SET) < 0) return SystemFailure();
    int readError = 0;
    const std::vector<BYTE> header = ReadHeaderObject(
        [&](BYTE* buffer, std::size_t size) -> std::size_t {
            const long got = ReadFull(fd, buffer, size);
            if (got < 0) readError = errno;
            return got > 0 ? static_cast<std::size_t>(got) : 0;
        },
        static_cast<std::size_t>(fileSize));
    if (readError != 0) return HRESULT_FROM_WIN32(static_cast<std::uint32_t>(readError));
    if (header.empty()) return NS_E_INVALID_DATA;
    const QWORD tail = fileSize - header.size();
    std::vector<BYTE> rebuilt;
    if (HRESULT hr = BuildHeader(header, attributes, tail, rebuilt); FAILED(hr)) return hr;
    if (HRESULT hr = Move(fd, header.size(), rebuilt.size(), tail); FAILED(hr)) return hr;
    if (HRESULT hr = WriteAt(fd, rebuilt.data(), rebuilt.size(), 0); FAILED(hr)) return hr;
    if (rebuilt.size() < header.size() && ftruncate(fd, static_cast<off_t>(rebuilt.size() + tail)) != 0)
        return SystemFailure();
    return S_OK;
}

}  // namespace kiv::media::asf
