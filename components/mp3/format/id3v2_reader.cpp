#include "components/mp3/format/id3v2_reader.h"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "components/mp3/format/genres.h"
#include "components/mp3/format/id3v2_header.h"
#include "components/mp3/format/tag_text.h"

namespace kiv::mp3 {

namespace {

using Bytes = std::span<const std::uint8_t>;

enum class Field { none, title, artist, album, year, recordingTime, genre, trackNo, comment };

Field fieldFor(std::string_view id) {
    struct Entry {
        std::string_view id;
        Field field;
    };
    static constexpr Entry kEntries[] = {
        {"TIT2", Field::title},   {"TPE1", Field::artist}, {"TALB", Field::album},
        {"TYER", Field::year},    {"TDRC", Field::recordingTime},
        {"TCON", Field::genre},   {"TRCK", Field::trackNo}, {"COMM", Field::comment},
        // Version 2.2 names.
        {"TT2", Field::title},    {"TP1", Field::artist},  {"TAL", Field::album},
        {"TYE", Field::year},     {"TCO", Field::genre},   {"TRK", Field::trackNo},
        {"COM", Field::comment},
    };
    for (const Entry& e : kEntries) {
        if (e.id == id) return e.field;
    }
    return Field::none;
}

// Undoes unsynchronisation: every FF 00 pair was once a lone FF.
std::vector<std::uint8_t> resynchronise(Bytes bytes) {
    std::vector<std::uint8_t> out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        out.push_back(bytes[i]);
        if (bytes[i] == 0xFF && i + 1 < bytes.size() && bytes[i + 1] == 0x00) ++i;
    }
    return out;
}

bool isWideEncoding(std::uint8_t encoding) { return encoding == 1 || encoding == 2; }

std::optional<std::u16string> decodeText(std::uint8_t encoding, Bytes bytes) {
    switch (encoding) {
    case 0: return fromLatin1(bytes);
    case 1: return fromUtf16(bytes, false);
    case 2: return fromUtf16(bytes, true);
    case 3: return fromUtf8(bytes);
    default: return std::nullopt;
    }
}

// Offset just past the terminator of the string starting at from, or
// nullopt when the string is not terminated inside bytes.
std::optional<std::size_t> skipString(std::uint8_t encoding, Bytes bytes, std::size_t from) {
    if (isWideEncoding(encoding)) {
        for (std::size_t i = from; i + 1 < bytes.size(); i += 2) {
            if (bytes[i] == 0 && bytes[i + 1] == 0) return i + 2;
        }
        return std::nullopt;
    }
    for (std::size_t i = from; i < bytes.size(); ++i) {
        if (bytes[i] == 0) return i + 1;
    }
    return std::nullopt;
}

// A version 2.4 text frame may hold several strings, each ended by the
// encoding's terminator: they are joined by line feeds, empty ones dropped.
std::optional<std::u16string> decodeList(std::uint8_t encoding, Bytes bytes) {
    const bool wide = isWideEncoding(encoding);
    std::optional<std::u16string> joined;
    std::size_t at = 0;
    bool bigEndian = encoding == 2;
    do {
        const auto next = skipString(encoding, bytes, at);
        const std::size_t end = next ? *next - (wide ? 2 : 1) : bytes.size();
        Bytes piece = bytes.subspan(at, end - at);
        // Later UTF-16 strings may leave out the byte-order mark of the first.
        if (encoding == 1 && piece.size() >= 2) {
            if (piece[0] == 0xFE && piece[1] == 0xFF) bigEndian = true;
            else if (piece[0] == 0xFF && piece[1] == 0xFE) bigEndian = false;
        }
        auto text = wide ? std::optional(fromUtf16(piece, bigEndian)) : decodeText(encoding, piece);
        if (!text) return std::nullopt;
        if (!joined) joined.emplace();
        if (!text->empty()) {
            if (!joined->empty()) *joined += kTagValueSeparator;
            *joined += *text;
        }
        at = next ? *next : bytes.size();
    } while (at < bytes.size());
    if (!joined) joined.emplace();
    return joined;
}

std::u16string genreText(const std::u16string& text) {
    auto nameOf = [](long long index) -> std::optional<std::u16string> {
        if (index < 0 || index >= kGenreCount) return std::nullopt;
        const auto name = genreNames()[static_cast<std::size_t>(index)];
        return std::u16string(name.begin(), name.end());
    };
    auto digitsOnly = [](std::u16string_view s) {
        return !s.empty() && s.size() <= 3 &&
               std::all_of(s.begin(), s.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; });
    };
    auto number = [](std::u16string_view s) {
        long long n = 0;
        for (char16_t c : s) n = n * 10 + (c - u'0');
        return n;
    };
    if (digitsOnly(text)) {
        if (auto name = nameOf(number(text))) return *name;
        return text;
    }
    // "(17)" refers to the list; "(17)Rock music" refines it with own text.
    if (text.size() > 2 && text[0] == u'(') {
        const auto close = text.find(u')');
        if (close != std::u16string::npos && digitsOnly(std::u16string_view(text).substr(1, close - 1))) {
            if (close + 1 < text.size()) return text.substr(close + 1);
            if (auto name = nameOf(number(std::u16string_view(text).substr(1, close - 1)))) return *name;
        }
    }
    return text;
}

void applyFrame(Field field, Bytes content, std::uint8_t version, TagRecord& tags) {
    if (field == Field::none || content.empty()) return;
    const std::uint8_t encoding = content[0];
    std::size_t textAt = 1;
    if (field == Field::comment) {
        // Language, then a description that is not one of our fields.
        const auto afterDescription = skipString(encoding, content, 4);
        if (!afterDescription) return;
        textAt = *afterDescription;
    }
    // Version 2.4 defines text frames as lists; before it a text ended at
    // its first terminator.
    const Bytes textBytes = content.subspan(std::min(textAt, content.size()));
    auto text = field != Field::comment && version >= 4 ? decodeList(encoding, textBytes)
                                                        : decodeText(encoding, textBytes);
    if (!text) return;
    switch (field) {
    case Field::title: tags.title = std::move(*text); break;
    case Field::artist: tags.artist = std::move(*text); break;
    case Field::album: tags.album = std::move(*text); break;
    case Field::year: tags.year = std::move(*text); break;
    case Field::recordingTime: tags.year = text->substr(0, 4); break;
    case Field::genre: {
        std::u16string genres;
        for (std::u16string& value : SplitTagValues(*text)) {
            if (!genres.empty()) genres += kTagValueSeparator;
            genres += genreText(value);
        }
        tags.genre = std::move(genres);
        break;
    }
    case Field::trackNo: tags.trackNo = std::move(*text); break;
    case Field::comment: tags.comment = std::move(*text); break;
    case Field::none: break;
    }
}

std::uint32_t readBigEndian(Bytes bytes) {
    std::uint32_t value = 0;
    for (std::uint8_t b : bytes) value = (value << 8) | b;
    return value;
}

// Size of the extended header of versions 3 and 4 (what to skip before the
// frames), or nullopt when it does not fit.
std::optional<std::size_t> extendedHeaderSize(std::uint8_t version, Bytes body) {
    if (body.size() < 4) return std::nullopt;
    const std::size_t size = version == 4
        ? readSyncSafe(body.first<4>())
        : std::size_t{4} + readBigEndian(body.first(4));
    if (size > body.size()) return std::nullopt;
    return size;
}

// APIC: encoding, MIME type (Latin-1, ended by a zero), picture type,
// description (in the encoding, ended by its terminator), the image. 2.2's
// PIC has a three-letter image format in place of the MIME type.
void applyPicture(Bytes content, std::uint8_t version, std::vector<TagPicture>& pictures) {
    if (content.size() < 2) return;
    const std::uint8_t encoding = content[0];
    TagPicture p;
    std::size_t at = 1;
    if (version == 2) {
        if (content.size() < 5) return;
        std::string format(reinterpret_cast<const char*>(content.data() + 1), 3);
        for (char& c : format) c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        p.mimeType = "image/" + (format == "jpg" ? std::string("jpeg") : format);
        at = 4;
    } else {
        const auto end = std::find(content.begin() + 1, content.end(), std::uint8_t{0});
        if (end == content.end()) return;
        p.mimeType.assign(content.begin() + 1, end);
        at = std::size_t(end - content.begin()) + 1;
    }
    if (at >= content.size()) return;
    p.type = content[at++];
    const auto afterDescription = skipString(encoding, content, at);
    if (!afterDescription || *afterDescription >= content.size()) return;
    if (auto description = decodeText(encoding, content.subspan(at, *afterDescription - at)))
        p.description = std::move(*description);
    const Bytes data = content.subspan(*afterDescription);
    p.data.assign(data.begin(), data.end());
    pictures.push_back(std::move(p));
}

void setField(std::vector<TagField>& fields, std::u16string_view name, std::u16string value) {
    if (value.empty()) return;
    auto it = std::find_if(fields.begin(), fields.end(), [&](const TagField& f) { return f.name == name; });
    if (it != fields.end()) it->value = std::move(value);
    else fields.push_back({std::u16string(name), std::move(value)});
}

// TXXX: encoding, description (ended by the encoding's terminator), value.
void applyUserText(Bytes content, std::uint8_t version, std::vector<TagField>& fields) {
    if (content.empty()) return;
    const std::uint8_t encoding = content[0];
    const auto afterDescription = skipString(encoding, content, 1);
    if (!afterDescription) return;
    const auto description =
        decodeText(encoding, content.subspan(1, *afterDescription - 1 - (isWideEncoding(encoding) ? 2 : 1)));
    if (!description) return;
    for (const TagFieldPlaces& f : kTagFieldPlaces) {
        // Taggers differ in the case of some descriptions
        // ("replaygain_track_gain").
        if (f.id3Description.empty() || !SameFieldName(*description, f.id3Description)) continue;
        const Bytes valueBytes = content.subspan(*afterDescription);
        auto value = version >= 4 ? decodeList(encoding, valueBytes) : decodeText(encoding, valueBytes);
        if (value) setField(fields, f.name, std::move(*value));
        return;
    }
}

// UFID: the owner (Latin-1, ended by a zero), then the identifier's bytes.
void applyUniqueId(Bytes content, std::vector<TagField>& fields) {
    const auto end = std::find(content.begin(), content.end(), std::uint8_t{0});
    if (end == content.end()) return;
    const std::string_view owner(reinterpret_cast<const char*>(content.data()), std::size_t(end - content.begin()));
    for (const TagFieldPlaces& f : kTagFieldPlaces) {
        if (f.id3UfidOwner.empty() || owner != f.id3UfidOwner) continue;
        setField(fields, f.name, fromLatin1(content.subspan(std::size_t(end - content.begin()) + 1)));
        return;
    }
}

void readFrames(const Id3v2Header& header, Bytes frames, TagRecord& tags, std::vector<TagPicture>* pictures,
                std::vector<TagField>* fields) {
    const std::uint8_t version = header.majorVersion;
    const std::size_t headerSize = version == 2 ? 6 : 10;
    const std::size_t idSize = version == 2 ? 3 : 4;
    const bool tagUnsynchronised = (header.flags & kId3v2FlagUnsynchronisation) != 0;

    std::size_t pos = 0;
    while (pos < frames.size() && frames[pos] != 0) {
        const Bytes rest = frames.subspan(pos);
        if (rest.size() <= headerSize) return;
        const std::string_view id(reinterpret_cast<const char*>(rest.data()), idSize);
        std::uint64_t size = 0;
        if (version == 2) {
            size = readBigEndian(rest.subspan(3, 3));
        } else if (version == 3) {
            size = readBigEndian(rest.subspan(4, 4));
            if (size & 0x80000000u) return;
        } else {
            size = readSyncSafe(rest.subspan<4, 4>());
        }
        if (headerSize + size > rest.size()) return;
        Bytes content = rest.subspan(headerSize, static_cast<std::size_t>(size));
        pos += headerSize + static_cast<std::size_t>(size);

        if (version == 3 && rest[9] != 0) continue;  // compressed, encrypted or grouped
        std::vector<std::uint8_t> plain;
        if (version == 4) {
            const std::uint8_t format = rest[9];
            if (format & (0x40 | 0x08 | 0x04)) continue;  // grouped, compressed, encrypted
            if (format & 0x01) {                           // data length indicator
                if (content.size() < 4) continue;
                content = content.subspan(4);
            }
            if ((format & 0x02) || tagUnsynchronised) {
                plain = resynchronise(content);
                content = plain;
            }
        }
        if (pictures && (id == "APIC" || id == "PIC")) applyPicture(content, version, *pictures);
        else if (fields && (id == "TXXX" || id == "TXX")) applyUserText(content, version, *fields);
        else if (fields && (id == "UFID" || id == "UFI")) applyUniqueId(content, *fields);
        else applyFrame(fieldFor(id), content, version, tags);
    }
}

}  // namespace

bool readId3v2(std::span<const std::uint8_t> bytes, TagRecord& tags) { return readId3v2(bytes, tags, nullptr); }

bool readId3v2(std::span<const std::uint8_t> bytes, TagRecord& tags, std::vector<TagPicture>* pictures,
               std::vector<TagField>* fields) {
    const auto header = parseId3v2Header(bytes);
    if (!header || header->majorVersion < 2) return false;
    Bytes body = bytes.subspan(kId3v2HeaderSize);
    body = body.first(std::min<std::size_t>(body.size(), header->size));

    // Version 2.2 used this flag for compression, which no one defined.
    if (header->majorVersion == 2 && (header->flags & 0x40)) return true;

    std::vector<std::uint8_t> plain;
    if (header->majorVersion < 4 && (header->flags & kId3v2FlagUnsynchronisation)) {
        plain = resynchronise(body);
        body = plain;
    }
    if (header->majorVersion >= 3 && (header->flags & kId3v2FlagExtendedHeader)) {
        const auto skip = extendedHeaderSize(header->majorVersion, body);
        if (!skip) return true;
        body = body.subspan(*skip);
    }
    readFrames(*header, body, tags, pictures, fields);
    return true;
}

}  // namespace kiv::mp3
