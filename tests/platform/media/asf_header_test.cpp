// The attribute store with repeated names, and the header's attribute
// objects as we write and read them, with crafted broken headers.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/media/asf_header.h"

namespace kiv::media {
namespace {

using Bytes = std::vector<BYTE>;

constexpr GUID kHeader = MakeGuid("{75B22630-668E-11CF-A6D9-00AA0062CE6C}");
constexpr GUID kFileProperties = MakeGuid("{8CABDCA1-A947-11CF-8EE4-00C00C205365}");
constexpr GUID kContentDescription = MakeGuid("{75B22633-668E-11CF-A6D9-00AA0062CE6C}");
constexpr GUID kExtended = MakeGuid("{D2D0A440-E307-11D2-97F0-00A0C95EA850}");
constexpr GUID kExtension = MakeGuid("{5FBF03B5-A92E-11CF-8EE3-00C00C205365}");
constexpr GUID kLibrary = MakeGuid("{44231C94-9498-49D1-A141-1D134E457054}");
constexpr GUID kStreamProperties = MakeGuid("{B7DC0791-A9B7-11CF-8EE6-00C00C205365}");

void Put(Bytes& out, QWORD v, int size) {
    for (int i = 0; i < size; ++i) out.push_back(static_cast<BYTE>(v >> (8 * i)));
}

Bytes GuidBytes(const GUID& g) {
    Bytes b;
    Put(b, g.Data1, 4);
    Put(b, g.Data2, 2);
    Put(b, g.Data3, 2);
    b.insert(b.end(), std::begin(g.Data4), std::end(g.Data4));
    return b;
}

Bytes Text(std::u16string_view s) {
    Bytes b;
    for (char16_t c : s) Put(b, c, 2);
    Put(b, 0, 2);
    return b;
}

// An object; `claimed` replaces its true size in the size field.
Bytes Object(const GUID& g, const Bytes& body, QWORD claimed = 0) {
    Bytes b = GuidBytes(g);
    Put(b, claimed ? claimed : 24 + body.size(), 8);
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

Bytes Header(const std::vector<Bytes>& objects, QWORD claimed = 0) {
    Bytes inner;
    for (const auto& o : objects) inner.insert(inner.end(), o.begin(), o.end());
    Bytes b = GuidBytes(kHeader);
    Put(b, claimed ? claimed : 30 + inner.size(), 8);
    Put(b, objects.size(), 4);
    b.push_back(1);
    b.push_back(2);
    b.insert(b.end(), inner.begin(), inner.end());
    return b;
}

Bytes FileProperties() { return Object(kFileProperties, Bytes(80, 0)); }

Bytes Extension(const std::vector<Bytes>& inner, QWORD claimedData = ~QWORD{0}) {
    Bytes body = GuidBytes(MakeGuid("{ABD3D211-A9BA-11CF-8EE6-00C00C205365}"));
    Put(body, 6, 2);
    Bytes data;
    for (const auto& o : inner) data.insert(data.end(), o.begin(), o.end());
    Put(body, claimedData == ~QWORD{0} ? data.size() : claimedData, 4);
    body.insert(body.end(), data.begin(), data.end());
    return Object(kExtension, body);
}

Bytes ContentDescription(const std::vector<std::u16string>& five, std::vector<WORD> lengths = {}) {
    Bytes body, strings;
    for (std::size_t i = 0; i < 5; ++i) {
        Bytes t = five[i].empty() ? Bytes{} : Text(five[i]);
        Put(body, i < lengths.size() ? lengths[i] : t.size(), 2);
        strings.insert(strings.end(), t.begin(), t.end());
    }
    body.insert(body.end(), strings.begin(), strings.end());
    return Object(kContentDescription, body);
}

struct Record {
    std::u16string name;
    WORD type;
    Bytes value;
    WORD stream = 0;
    QWORD claimedLength = ~QWORD{0};
};

Bytes Extended(const std::vector<Record>& records, WORD count = 0) {
    Bytes body;
    Put(body, count ? count : records.size(), 2);
    for (const auto& r : records) {
        Bytes name = Text(r.name);
        Put(body, name.size(), 2);
        body.insert(body.end(), name.begin(), name.end());
        Put(body, r.type, 2);
        Put(body, r.claimedLength == ~QWORD{0} ? r.value.size() : r.claimedLength, 2);
        body.insert(body.end(), r.value.begin(), r.value.end());
    }
    return Object(kExtended, body);
}

Bytes Library(const std::vector<Record>& records) {
    Bytes body;
    Put(body, records.size(), 2);
    for (const auto& r : records) {
        Bytes name = Text(r.name);
        Put(body, 0, 2);
        Put(body, r.stream, 2);
        Put(body, name.size(), 2);
        Put(body, r.type, 2);
        Put(body, r.claimedLength == ~QWORD{0} ? r.value.size() : r.claimedLength, 4);
        body.insert(body.end(), name.begin(), name.end());
        body.insert(body.end(), r.value.begin(), r.value.end());
    }
    return Object(kLibrary, body);
}

// What a reader sees: "name=text" per attribute in order, binary values as
// their size.
std::vector<std::string> Seen(const HeaderAttributes& a) {
    std::vector<std::string> out;
    for (const auto& e : a.Entries()) {
        std::u16string text;
        std::string shown = HeaderAttributes::AsText(e, text) ? std::string(text.begin(), text.end())
                                                               : "<" + std::to_string(e.value.size()) + " bytes>";
        out.push_back(std::string(e.name.begin(), e.name.end()) + "=" + shown);
    }
    return out;
}

void AddText(HeaderAttributes& a, std::u16string_view name, std::u16string_view text) {
    Bytes b = Text(text);
    ASSERT_EQ(a.AddAttribute(0, name, nullptr, AttrType::String, b.data(), DWORD(b.size())), S_OK);
}

TEST(MediaAttributes, RepeatedNamesKeepTheirOrder) {
    HeaderAttributes a;
    AddText(a, u"Author", u"X");
    AddText(a, u"Title", u"T");
    WORD index = 0;
    Bytes y = Text(u"Y");
    ASSERT_EQ(a.AddAttribute(0, u"Author", &index, AttrType::String, y.data(), DWORD(y.size())), S_OK);
    EXPECT_EQ(index, 2);
    EXPECT_EQ(a.AddAttribute(1, u"Author", nullptr, AttrType::String, y.data(), DWORD(y.size())), E_INVALIDARG)
        << "file-level attributes only";

    std::vector<WORD> indices;
    ASSERT_EQ(a.GetAttributeIndices(0, u"Author", indices), S_OK);
    EXPECT_EQ(indices, (std::vector<WORD>{0, 2}));
    std::u16string name;
    AttrType type{};
    DWORD length = 0;
    ASSERT_EQ(a.GetAttributeByIndexEx(0, 2, &name, &type, nullptr, &length), S_OK);
    EXPECT_EQ(name, u"Author");
    EXPECT_EQ(type, AttrType::String);
    EXPECT_EQ(length, 4u);
    Bytes buffer(3);
    length = 3;
    EXPECT_EQ(a.GetAttributeByIndexEx(0, 2, nullptr, &type, buffer.data(), &length), ASF_E_BUFFERTOOSMALL);
    EXPECT_EQ(length, 4u);
    buffer.resize(4);
    ASSERT_EQ(a.GetAttributeByIndexEx(0, 2, nullptr, &type, buffer.data(), &length), S_OK);
    EXPECT_EQ(buffer, y);
    EXPECT_EQ(a.GetAttributeByIndexEx(0, 3, nullptr, &type, nullptr, &length), E_INVALIDARG);

    // By name: the first; SetAttribute replaces all of the name in the
    // place of the first.
    WORD stream = 0, shortLength = 0;
    ASSERT_EQ(a.GetAttributeByName(&stream, u"Author", &type, nullptr, &shortLength), S_OK);
    Bytes x(shortLength);
    ASSERT_EQ(a.GetAttributeByName(&stream, u"Author", &type, x.data(), &shortLength), S_OK);
    EXPECT_EQ(x, Text(u"X"));
    Bytes z = Text(u"Z");
    ASSERT_EQ(a.SetAttribute(0, u"Author", AttrType::String, z.data(), WORD(z.size())), S_OK);
    EXPECT_EQ(Seen(a), (std::vector<std::string>{"Author=Z", "Title=T"}));

    // A value too large for a WORD length is read by index only.
    Bytes big(70000, 7);
    ASSERT_EQ(a.AddAttribute(0, u"Big", nullptr, AttrType::Binary, big.data(), DWORD(big.size())), S_OK);
    EXPECT_EQ(a.GetAttributeByName(&stream, u"Big", &type, nullptr, &shortLength), ASF_E_BUFFERTOOSMALL);
    ASSERT_EQ(a.GetAttributeByIndexEx(0, 2, nullptr, &type, nullptr, &length), S_OK);
    EXPECT_EQ(length, 70000u);
}

// Every type, repeated names, large values: what we write into a header
// reads back the same, attribute for attribute, and the header's sizes
// stay right.
TEST(MediaAsfHeader, WrittenAttributesReadBackTheSame) {
    HeaderAttributes a;
    AddText(a, u"Title", u"T");
    AddText(a, u"Author", u"First");
    AddText(a, u"WM/AlbumTitle", u"Album");
    AddText(a, u"Author", u"Second");
    const BYTE dword[4] = {7, 0, 0, 0}, word[2] = {3, 1}, qword[8] = {1, 2, 3, 4, 5, 6, 7, 8}, yes[4] = {1, 0, 0, 0};
    ASSERT_EQ(a.AddAttribute(0, u"WM/TrackNumber", nullptr, AttrType::Dword, dword, 4), S_OK);
    ASSERT_EQ(a.AddAttribute(0, u"W", nullptr, AttrType::Word, word, 2), S_OK);
    ASSERT_EQ(a.AddAttribute(0, u"Q", nullptr, AttrType::Qword, qword, 8), S_OK);
    ASSERT_EQ(a.AddAttribute(0, u"IsVBR", nullptr, AttrType::Bool, yes, 4), S_OK);
    ASSERT_EQ(a.AddAttribute(0, u"IsVBR", nullptr, AttrType::Bool, yes, 4), S_OK);  // repeated: the other layout
    Bytes guid = GuidBytes(kFileProperties);
    ASSERT_EQ(a.AddAttribute(0, u"WM/MediaClassPrimaryID", nullptr, AttrType::Guid, guid.data(), 16), S_OK);
    Bytes picture(100000);
    for (std::size_t i = 0; i < picture.size(); ++i) picture[i] = BYTE(i * 13);
    ASSERT_EQ(a.AddAttribute(0, u"WM/Picture", nullptr, AttrType::Binary, picture.data(), DWORD(picture.size())), S_OK);
    const std::u16string lyrics(40000, u'\u00e9');
    AddText(a, u"WM/Lyrics", lyrics);
    AddText(a, u"Title", u"Another title");

    const Bytes old = Header({FileProperties(), Extension({}), Object(kStreamProperties, Bytes(20, 9)),
                              ContentDescription({u"Old", u"", u"", u"", u""}), Extended({{u"encoder", 0, Text(u"x")}})});
    Bytes rebuilt;
    ASSERT_EQ(asf::BuildHeader(old, a, 5000, rebuilt), S_OK);
    HeaderAttributes back;
    ASSERT_TRUE(asf::ReadAttributes(rebuilt, back));
    // Per name the values come back in their order; the old descriptions
    // are gone.
    std::map<std::u16string, std::vector<std::pair<AttrType, Bytes>>> wrote, read;
    for (const auto& e : a.Entries()) wrote[e.name].emplace_back(e.type, e.value);
    for (const auto& e : back.Entries()) read[e.name].emplace_back(e.type, e.value);
    EXPECT_EQ(read, wrote);

    auto number = [&](std::size_t at, int size) {
        QWORD v = 0;
        for (int i = size - 1; i >= 0; --i) v = (v << 8) | rebuilt[at + i];
        return v;
    };
    EXPECT_EQ(number(16, 8), rebuilt.size()) << "the header object's size";
    EXPECT_EQ(number(24, 4), 5u) << "file properties, extension, two descriptions and stream properties";
    EXPECT_EQ(Bytes(rebuilt.begin() + 30, rebuilt.begin() + 46), GuidBytes(kFileProperties)) << "kept in its place";
    EXPECT_EQ(number(30 + 40, 8), rebuilt.size() + 5000) << "the file size in the file properties";

    // Rebuilding the rebuilt header replaces our objects rather than
    // adding to them.
    Bytes again;
    ASSERT_EQ(asf::BuildHeader(rebuilt, a, 5000, again), S_OK);
    EXPECT_EQ(again, rebuilt);
}

TEST(MediaAsfHeader, OnlyWellFormedHeadersAreRebuilt) {
    HeaderAttributes a;
    AddText(a, u"Title", u"T");
    Bytes good = Header({FileProperties(), Extension({})});
    Bytes out;
    ASSERT_EQ(asf::BuildHeader(good, a, 0, out), S_OK);
    Bytes cut(good.begin(), good.end() - 1);
    Bytes longer = good;
    longer.push_back(0);
    const Bytes cases[] = {
        Header({Extension({})}),                                       // no file properties
        Header({FileProperties(), Object(kExtension, Bytes(10, 0))}),  // an extension without its fields
        Header({FileProperties(), Extension({Object(kLibrary, {0, 0})}, 99)}),  // its data size is wrong
        Header({FileProperties(), Object(kStreamProperties, {}, 1000)}),        // an object past the end
        cut,
        longer,
        Bytes(40, 0),
    };
    for (const auto& c : cases) EXPECT_EQ(asf::BuildHeader(c, a, 0, out), NS_E_INVALID_DATA);
}

// Hostile headers read safely: everything is bounded by the bytes there,
// never by the sizes and lengths they claim; a broken object costs itself.
TEST(MediaAsfHeader, BrokenHeadersAreReadSafely) {
    const Bytes cd = ContentDescription({u"Title", u"Author", u"", u"Remark", u""});
    const Record a{u"WM/AlbumTitle", 0, Text(u"Album")};
    const Record b{u"WM/Genre", 0, Text(u"Rock")};
    struct Case {
        const char* what;
        Bytes header;
        std::vector<std::string> seen;
    } cases[] = {
        {"all well", Header({FileProperties(), Extension({Library({b})}), cd, Extended({a})}),
         {"Title=Title", "Author=Author", "Description=Remark", "WM/AlbumTitle=Album", "WM/Genre=Rock"}},
        {"a description value repeated among the extended ones, as FFmpeg writes it",
         Header({cd, Extended({{u"Author", 0, Text(u"Author")}, {u"Author", 0, Text(u"Other")}, a})}),
         {"Title=Title", "Author=Author", "Description=Remark", "Author=Other", "WM/AlbumTitle=Album"}},
        {"a description length past its object", Header({ContentDescription({u"T", u"", u"", u"", u""}, {0, 0, 0, 0xFFFF}), Extended({a})}),
         {"WM/AlbumTitle=Album"}},
        {"a value length past its object", Header({Extended({a, {u"X", 0, Text(u"y"), 0, 0xFFFF}, b})}),
         {"WM/AlbumTitle=Album"}},
        {"more records counted than held", Header({Extended({a}, 0xFFFF)}), {"WM/AlbumTitle=Album"}},
        {"a library length past its object", Header({Extension({Library({b, {u"X", 1, Bytes(4, 0), 0, 0xFFFFFFFF}})})}),
         {"WM/Genre=Rock"}},
        {"an object size past the header", Header({cd, Object(kExtended, Bytes(10, 0), 1000), Extended({a})}),
         {"Title=Title", "Author=Author", "Description=Remark"}},
        {"an object size below its own head", Header({Object(kStreamProperties, {}, 3), cd}), {}},
        {"an extension claiming more data than it has", Header({Extension({Library({b})}, 0x7FFFFFFF), Extended({a})}),
         {"WM/AlbumTitle=Album", "WM/Genre=Rock"}},
        {"a header claiming far more than the file has", Header({cd}, ~QWORD{0} >> 1),
         {"Title=Title", "Author=Author", "Description=Remark"}},
        {"values of the wrong size, stream records, unknown types",
         Header({Extended({{u"B", 2, Bytes(3, 1)}, {u"D", 3, Bytes(2, 1)}, {u"U", 99, Bytes(4, 1)}, a}),
                 Extension({Library({{u"S", 0, Text(u"s"), 1}, {u"G", 6, Bytes(15, 0)}, {u"B", 2, {1, 0}}, b}),})}),
         {"WM/AlbumTitle=Album", "B=1", "WM/Genre=Rock"}},
        {"odd string lengths and missing terminators", Header({Extended({{u"O", 0, {'o', 0, 'k'}}, {u"N", 0, {'n', 0}}})}),
         {"O=o", "N=n"}},
    };
    for (const Case& c : cases) {
        HeaderAttributes got;
        EXPECT_TRUE(asf::ReadAttributes(c.header, got)) << c.what;
        EXPECT_EQ(Seen(got), c.seen) << c.what;
        // Cut anywhere, the same header is read as far as it goes.
        for (std::size_t size = 0; size < c.header.size(); size += 7) {
            HeaderAttributes part;
            asf::ReadAttributes(std::span<const BYTE>(c.header.data(), size), part);
            EXPECT_LE(part.Entries().size(), got.Entries().size()) << c.what << " cut at " << size;
        }
    }
    HeaderAttributes none;
    EXPECT_FALSE(asf::ReadAttributes(Bytes(100, 0), none)) << "not a header";
    EXPECT_FALSE(asf::ReadAttributes(Header({cd}, 29), none)) << "a header smaller than its own head";
    EXPECT_TRUE(none.Entries().empty());
}

// Reading the header off a file takes what the file holds, not what the
// header claims, and nothing past the header.
TEST(MediaAsfHeader, HeaderIsReadAsFarAsTheFileGoes) {
    const Bytes header = Header({ContentDescription({u"T", u"", u"", u"", u""})});
    auto reader = [](const Bytes& file) {
        return [&file, at = std::size_t{0}](BYTE* buffer, std::size_t size) mutable {
            const std::size_t n = std::min({size, file.size() - at, std::size_t{5}});  // short reads too
            std::copy_n(file.begin() + std::ptrdiff_t(at), n, buffer);
            at += n;
            return n;
        };
    };
    Bytes file = header;
    file.insert(file.end(), 100, 0xAB);
    EXPECT_EQ(asf::ReadHeaderObject(reader(file), 1 << 20), header);
    EXPECT_EQ(asf::ReadHeaderObject(reader(file), 40), Bytes(header.begin(), header.begin() + 40)) << "the limit";
    const Bytes claimsMore = Header({ContentDescription({u"T", u"", u"", u"", u""})}, QWORD{1} << 40);
    EXPECT_EQ(asf::ReadHeaderObject(reader(claimsMore), std::size_t{1} << 30), claimsMore);
    EXPECT_TRUE(asf::ReadHeaderObject(reader(Bytes(64, 0)), 1 << 20).empty());
    EXPECT_TRUE(asf::ReadHeaderObject(reader(Bytes(header.begin(), header.begin() + 20)), 1 << 20).empty());
}

}  // namespace
}  // namespace kiv::media
