#include "components/cdrip/cddb/cddb_record.h"

#include <algorithm>
#include <map>

#include "platform/system/text.h"

namespace kiv::cddb {
namespace {

constexpr int kMaxTrackIndex = 98;  // a CD has at most 99 tracks

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// The protocol escapes newline, tab and backslash; any other backslash is
// an ordinary character.
std::string Unescape(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            const char next = s[i + 1];
            if (next == 'n' || next == 't' || next == '\\') {
                out += next == 'n' ? '\n' : next == 't' ? '\t' : '\\';
                ++i;
                continue;
            }
        }
        out += s[i];
    }
    return out;
}

// Track number of a key such as "TTITLE12"; -1 when the key is not prefix
// followed by digits only, or the number is out of range.
int TrackNumber(std::string_view key, std::string_view prefix) {
    if (key.size() <= prefix.size() || key.substr(0, prefix.size()) != prefix) return -1;
    int n = 0;
    for (char c : key.substr(prefix.size())) {
        if (c < '0' || c > '9') return -1;
        n = n * 10 + (c - '0');
        if (n > kMaxTrackIndex) return -1;
    }
    return n;
}

bool IsVarious(std::string_view artist) {
    return EqualsNoCase(artist, std::string_view("Various")) ||
           EqualsNoCase(artist, std::string_view("Various Artists"));
}

}  // namespace

const TrackInfo& Record::Track(int index) const {
    static const TrackInfo empty;
    if (index < 0 || static_cast<std::size_t>(index) >= tracks.size()) return empty;
    return tracks[static_cast<std::size_t>(index)];
}

Record ParseRecord(std::string_view raw, std::string_view category) {
    Record record;
    record.category = std::string(category);
    record.raw = std::string(raw);

    std::map<std::string, std::string, std::less<>> disc;
    std::map<int, std::string> titles, extended, trackIds;

    std::string_view rest = raw;
    while (!rest.empty()) {
        const auto lf = rest.find('\n');
        std::string_view line = rest.substr(0, lf);
        rest = lf == std::string_view::npos ? std::string_view() : rest.substr(lf + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line.front() == '#') continue;
        const auto eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        const std::string_view key = Trim(line.substr(0, eq));
        const std::string_view value = line.substr(eq + 1);
        if (key == "DISCID" || key == "DTITLE" || key == "DYEAR" || key == "DGENRE" || key == "EXTD" ||
            key == "MBRELEASEID") {
            disc[std::string(key)] += value;
        } else if (int t = TrackNumber(key, "TTITLE"); t >= 0) {
            titles[t] += value;
        } else if (int e = TrackNumber(key, "EXTT"); e >= 0) {
            extended[e] += value;
        } else if (int m = TrackNumber(key, "MBTRACKID"); m >= 0) {
            trackIds[m] += value;
        }
    }

    auto take = [&](std::string_view key) {
        auto it = disc.find(key);
        return it == disc.end() ? std::string() : Unescape(it->second);
    };
    record.discId = take("DISCID");
    record.discTitle = take("DTITLE");
    record.year = take("DYEAR");
    record.genre = take("DGENRE");
    record.extended = take("EXTD");
    record.musicBrainzReleaseId = take("MBRELEASEID");

    // Artists such as "AC/DC" carry a slash of their own; the protocol's
    // separator is " / ", so that one wins when present.
    const std::string_view title = record.discTitle;
    std::size_t sep = title.find(" / ");
    std::size_t sepLength = 3;
    if (sep == std::string_view::npos) {
        sep = title.find('/');
        sepLength = 1;
    }
    if (sep == std::string_view::npos) {
        record.artist = std::string(Trim(title));
    } else {
        record.artist = std::string(Trim(title.substr(0, sep)));
        record.album = std::string(Trim(title.substr(sep + sepLength)));
    }

    int count = 0;
    if (!titles.empty()) count = titles.rbegin()->first + 1;
    if (!extended.empty()) count = std::max(count, extended.rbegin()->first + 1);
    if (!trackIds.empty()) count = std::max(count, trackIds.rbegin()->first + 1);
    record.tracks.resize(static_cast<std::size_t>(count));
    const bool compilation = IsVarious(record.artist);
    for (auto& [i, v] : titles) {
        TrackInfo& track = record.tracks[static_cast<std::size_t>(i)];
        track.title = Unescape(v);
        if (compilation) {
            if (const auto s = track.title.find(" / "); s != std::string::npos)
                track.artist = std::string(Trim(std::string_view(track.title).substr(0, s)));
        }
    }
    for (auto& [i, v] : extended) record.tracks[static_cast<std::size_t>(i)].extended = Unescape(v);
    for (auto& [i, v] : trackIds) record.tracks[static_cast<std::size_t>(i)].musicBrainzTrackId = Unescape(v);
    return record;
}

kiv::TagRecord TrackTags(const Record& record, int trackIndex) {
    kiv::TagRecord tags;
    tags.title = FromUtf8Text(record.Track(trackIndex).title);
    tags.artist = FromUtf8Text(record.artist);
    tags.album = FromUtf8Text(record.album);
    tags.year = FromUtf8Text(record.year);
    tags.genre = FromUtf8Text(record.genre);
    const std::string number = std::to_string(trackIndex + 1);
    tags.trackNo.assign(number.begin(), number.end());
    if (!record.musicBrainzReleaseId.empty()) {
        // MusicBrainz credits each track of a compilation: the tags say who
        // sings it, not "Various Artists".
        const TrackInfo& track = record.Track(trackIndex);
        if (!track.artist.empty()) {
            tags.artist = FromUtf8Text(track.artist);
            tags.title = FromUtf8Text(track.title.substr(track.title.find(" / ") + 3));
        }
    }
    return tags;
}

std::vector<kiv::TagField> TrackFields(const Record& record, int trackIndex) {
    std::vector<kiv::TagField> fields;
    if (record.musicBrainzReleaseId.empty()) return fields;
    fields.push_back({u"MUSICBRAINZ_ALBUMID", FromUtf8Text(record.musicBrainzReleaseId)});
    if (const std::string& id = record.Track(trackIndex).musicBrainzTrackId; !id.empty())
        fields.push_back({u"MUSICBRAINZ_TRACKID", FromUtf8Text(id)});
    return fields;
}

std::vector<std::string> RecordNotes(std::string_view raw) {
    static constexpr std::string_view kNote = "# Note: ";
    std::vector<std::string> notes;
    while (!raw.empty()) {
        const auto lf = raw.find('\n');
        std::string_view line = raw.substr(0, lf);
        raw = lf == std::string_view::npos ? std::string_view() : raw.substr(lf + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.substr(0, kNote.size()) == kNote) notes.emplace_back(line.substr(kNote.size()));
    }
    return notes;
}

}  // namespace kiv::cddb
