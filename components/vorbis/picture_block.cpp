#include "components/vorbis/picture_block.h"

#include <array>

#include "platform/system/text.h"

namespace kiv::vorbis {
namespace {

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(std::uint8_t(v >> 24));
    out.push_back(std::uint8_t(v >> 16));
    out.push_back(std::uint8_t(v >> 8));
    out.push_back(std::uint8_t(v));
}

void PutBytes(std::vector<std::uint8_t>& out, std::string_view bytes) {
    PutU32(out, std::uint32_t(bytes.size()));
    out.insert(out.end(), bytes.begin(), bytes.end());
}

// Reads big-endian fields from the front of a block, refusing to run past
// its end.
class Cursor {
public:
    explicit Cursor(std::span<const std::uint8_t> b) : rest_(b) {}
    bool U32(std::uint32_t& v) {
        if (rest_.size() < 4) return false;
        v = std::uint32_t(rest_[0]) << 24 | std::uint32_t(rest_[1]) << 16 | std::uint32_t(rest_[2]) << 8 | rest_[3];
        rest_ = rest_.subspan(4);
        return true;
    }
    bool Bytes(std::span<const std::uint8_t>& out) {
        std::uint32_t n = 0;
        if (!U32(n) || n > rest_.size()) return false;
        out = rest_.first(n);
        rest_ = rest_.subspan(n);
        return true;
    }

private:
    std::span<const std::uint8_t> rest_;
};

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

std::vector<std::uint8_t> EncodePictureBlock(const TagPicture& picture) {
    std::vector<std::uint8_t> out;
    const std::string description = ToUtf8(picture.description);
    out.reserve(32 + picture.mimeType.size() + description.size() + picture.data.size());
    PutU32(out, std::uint32_t(picture.type));
    PutBytes(out, picture.mimeType);
    PutBytes(out, description);
    for (int i = 0; i < 4; ++i) PutU32(out, 0);  // width, height, depth, colours
    PutBytes(out, std::string_view(reinterpret_cast<const char*>(picture.data.data()), picture.data.size()));
    return out;
}

std::optional<TagPicture> DecodePictureBlock(std::span<const std::uint8_t> block) {
    Cursor c(block);
    std::uint32_t type = 0, unused = 0;
    std::span<const std::uint8_t> mime, description, data;
    if (!c.U32(type) || !c.Bytes(mime) || !c.Bytes(description)) return std::nullopt;
    for (int i = 0; i < 4; ++i)
        if (!c.U32(unused)) return std::nullopt;
    if (!c.Bytes(data) || data.empty()) return std::nullopt;
    TagPicture p;
    p.type = long(type);
    p.mimeType.assign(mime.begin(), mime.end());
    p.description = FromUtf8Text(std::string_view(reinterpret_cast<const char*>(description.data()), description.size()));
    p.data.assign(data.begin(), data.end());
    return p;
}

std::string Base64Encode(std::span<const std::uint8_t> data) {
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= data.size(); i += 3) {
        const std::uint32_t v = std::uint32_t(data[i]) << 16 | std::uint32_t(data[i + 1]) << 8 | data[i + 2];
        for (int s = 18; s >= 0; s -= 6) out.push_back(kAlphabet[(v >> s) & 63]);
    }
    if (const std::size_t left = data.size() - i; left > 0) {
        std::uint32_t v = std::uint32_t(data[i]) << 16;
        if (left == 2) v |= std::uint32_t(data[i + 1]) << 8;
        out.push_back(kAlphabet[(v >> 18) & 63]);
        out.push_back(kAlphabet[(v >> 12) & 63]);
        out.push_back(left == 2 ? kAlphabet[(v >> 6) & 63] : '=');
        out.push_back('=');
    }
    return out;
}

std::optional<std::vector<std::uint8_t>> Base64Decode(std::string_view text) {
    static const std::array<std::int8_t, 256> value = [] {
        std::array<std::int8_t, 256> v{};
        v.fill(-1);
        for (int i = 0; i < 64; ++i) v[std::uint8_t(kAlphabet[i])] = std::int8_t(i);
        return v;
    }();
    while (!text.empty() && text.back() == '=') text.remove_suffix(1);
    if (text.size() % 4 == 1) return std::nullopt;
    std::vector<std::uint8_t> out;
    out.reserve(text.size() / 4 * 3 + 2);
    std::uint32_t acc = 0;
    int bits = 0;
    for (const char ch : text) {
        const int v = value[std::uint8_t(ch)];
        if (v < 0) return std::nullopt;
        acc = (acc << 6) | std::uint32_t(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(std::uint8_t(acc >> bits));
        }
    }
    return out;
}

std::string PictureComment(const TagPicture& picture) { return Base64Encode(EncodePictureBlock(picture)); }

std::optional<TagPicture> PictureFromComment(std::string_view base64) {
    const auto block = Base64Decode(base64);
    if (!block) return std::nullopt;
    return DecodePictureBlock(*block);
}

std::vector<TagPicture> PicturesFromComments(const std::vector<std::string_view>& comments) {
    std::vector<TagPicture> pictures;
    constexpr std::string_view field = kPictureField;
    for (std::string_view c : comments) {
        if (c.size() <= field.size() || c[field.size()] != '=') continue;
        bool match = true;
        for (std::size_t i = 0; i < field.size() && match; ++i)
            match = (c[i] & ~0x20) == field[i] || (c[i] == '_' && field[i] == '_');
        if (!match) continue;
        if (auto p = PictureFromComment(c.substr(field.size() + 1))) pictures.push_back(std::move(*p));
    }
    return pictures;
}

std::vector<Comment> StreamComments(const TagRecord& tags, const std::vector<TagField>& fields,
                                    const std::vector<TagPicture>& pictures) {
    std::vector<Comment> comments = CommentsFromTags(tags, fields);
    for (const TagPicture& p : pictures)
        if (!p.data.empty() && p.data.size() <= kMaxTagPictureBytes) comments.push_back({kPictureField, PictureComment(p)});
    return comments;
}

}  // namespace kiv::vorbis
