#include "components/vorbis/vorbis_comments.h"

#include <cstring>

#include "platform/system/text.h"

namespace kiv::vorbis {

std::vector<Comment> CommentsFromTags(const TagRecord& tags, const std::vector<TagField>& named) {
    const std::pair<const char*, const std::u16string*> fields[] = {
        {"title", &tags.title}, {"artist", &tags.artist},    {"album", &tags.album},     {"genre", &tags.genre},
        {"date", &tags.year},   {"tracknumber", &tags.trackNo}, {"comment", &tags.comment},
    };
    std::vector<Comment> out;
    for (const auto& [field, text] : fields) {
        if (text->empty()) continue;
        // The format repeats a field for each of several values; the
        // comment is free text and stays one, line feeds and all.
        if (text == &tags.comment) {
            out.push_back({field, ToUtf8(*text)});
            continue;
        }
        for (const std::u16string& value : SplitTagValues(*text)) out.push_back({field, ToUtf8(value)});
    }
    for (const TagField& f : named) {
        const TagFieldPlaces* known = FindTagField(f.name);
        if (!known) continue;
        for (const std::u16string& value : SplitTagValues(f.value))
            out.push_back({ToUtf8(known->name), ToUtf8(value)});
    }
    return out;
}

namespace {

// Field names are ASCII by the format's rules; anything else in a key is
// kept as decoded and only ASCII letters change case.
std::u16string UpperKey(std::string_view key) {
    std::u16string k = FromUtf8Text(key);
    for (char16_t& c : k)
        if (c >= u'a' && c <= u'z') c = char16_t(c - u'a' + u'A');
    return k;
}

void Add(CommentTable& table, std::u16string key, std::u16string value) {
    auto [it, inserted] = table.try_emplace(std::move(key), value);
    if (!inserted) {
        it->second += u'\n';
        it->second += value;
    }
}

}  // namespace

CommentTable BuildCommentTable(const char* vendor, const std::vector<std::string_view>& comments) {
    CommentTable table;
    if (!vendor) return table;
    Add(table, u"VENDOR", FromUtf8Text(vendor));
    for (std::string_view c : comments) {
        const std::size_t eq = c.find('=');
        if (eq == std::string_view::npos) Add(table, u"COMMENT", FromUtf8Text(c));
        else Add(table, UpperKey(c.substr(0, eq)), FromUtf8Text(c.substr(eq + 1)));
    }
    return table;
}

TagRecord TagsFromCommentTable(const CommentTable& table) {
    auto get = [&](const char16_t* key) {
        auto it = table.find(key);
        return it == table.end() ? std::u16string() : it->second;
    };
    TagRecord t;
    t.title = get(u"TITLE");
    t.artist = get(u"ARTIST");
    t.album = get(u"ALBUM");
    t.comment = get(u"COMMENT");
    t.trackNo = get(u"TRACKNUMBER");
    t.year = get(u"DATE");
    t.genre = get(u"GENRE");
    return t;
}

std::vector<TagField> FieldsFromCommentTable(const CommentTable& table) {
    std::vector<TagField> fields;
    for (const TagFieldPlaces& f : kTagFieldPlaces) {
        auto it = table.find(std::u16string(f.name));
        if (it != table.end() && !it->second.empty()) fields.push_back({std::u16string(f.name), it->second});
    }
    return fields;
}

std::vector<std::uint8_t> EncodeCommentList(std::string_view vendor, const std::vector<std::string>& entries) {
    std::size_t total = 4 + vendor.size() + 4;
    for (const std::string& e : entries) total += 4 + e.size();
    std::vector<std::uint8_t> out(total);
    std::uint8_t* at = out.data();
    auto put = [&at](const void* data, std::size_t n) {
        if (n > 0) std::memcpy(at, data, n);
        at += n;
    };
    auto putLength = [&put](std::size_t v) {
        const std::uint8_t le[4] = {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)};
        put(le, 4);
    };
    putLength(vendor.size());
    put(vendor.data(), vendor.size());
    putLength(entries.size());
    for (const std::string& e : entries) {
        putLength(e.size());
        put(e.data(), e.size());
    }
    return out;
}

std::string CommentEntry(const Comment& comment) { return comment.field + "=" + comment.value; }

}  // namespace kiv::vorbis
