#include "components/cdrip/musicbrainz/musicbrainz_release.h"

#include <nlohmann/json.hpp>

namespace kiv::musicbrainz {
namespace {

using Json = nlohmann::json;

// A member's text, or empty when it is missing or not a string.
std::string Text(const Json& object, const char* key) {
    if (!object.is_object()) return {};
    const auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// "A feat. B": every credited name with the join phrase after it.
std::string Credit(const Json& object) {
    std::string out;
    if (!object.is_object()) return out;
    const auto it = object.find("artist-credit");
    if (it == object.end() || !it->is_array()) return out;
    for (const Json& part : *it) {
        std::string name = Text(part, "name");
        if (name.empty() && part.is_object() && part.contains("artist")) name = Text(part["artist"], "name");
        out += name + Text(part, "joinphrase");
    }
    return out;
}

bool CarriesDisc(const Json& medium, std::string_view discId) {
    const auto discs = medium.find("discs");
    if (discs == medium.end() || !discs->is_array()) return false;
    for (const Json& disc : *discs)
        if (Text(disc, "id") == discId) return true;
    return false;
}

Release ReadRelease(const Json& json, std::string_view discId) {
    Release release;
    release.id = Text(json, "id");
    release.title = Text(json, "title");
    release.artist = Credit(json);
    release.date = Text(json, "date");
    const auto media = json.find("media");
    if (media == json.end() || !media->is_array() || media->empty()) return release;
    const Json* chosen = &media->front();
    for (const Json& medium : *media) {
        if (medium.is_object() && CarriesDisc(medium, discId)) {
            chosen = &medium;
            break;
        }
    }
    if (!chosen->is_object()) return release;
    const auto tracks = chosen->find("tracks");
    if (tracks == chosen->end() || !tracks->is_array()) return release;
    for (const Json& t : *tracks) {
        if (!t.is_object()) continue;
        ReleaseTrack track;
        const Json* recording = t.contains("recording") && t["recording"].is_object() ? &t["recording"] : nullptr;
        track.id = recording ? Text(*recording, "id") : std::string();
        track.title = Text(t, "title");
        if (track.title.empty() && recording) track.title = Text(*recording, "title");
        track.artist = Credit(t);
        if (track.artist.empty() && recording) track.artist = Credit(*recording);
        release.tracks.push_back(std::move(track));
    }
    return release;
}

// The record format's escapes; a line break inside a value would start a
// line of its own.
std::string Escape(std::string_view value) {
    std::string out;
    for (char c : value) {
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else if (c == '\t') out += "\\t";
        else if (c != '\r') out += c;
    }
    return out;
}

}  // namespace

DiscAnswer ParseDiscAnswer(std::string_view text, std::string_view discId) {
    DiscAnswer answer;
    const Json json = Json::parse(text.begin(), text.end(), nullptr, false);
    if (json.is_discarded()) {
        answer.error = "the answer is not valid JSON";
        return answer;
    }
    if (!json.is_object()) {
        answer.error = "the answer is not a JSON object";
        return answer;
    }
    const auto releases = json.find("releases");
    if (releases == json.end() || !releases->is_array()) {
        answer.error = "the answer lists no releases";
        return answer;
    }
    for (const Json& r : *releases) {
        if (!r.is_object()) continue;
        Release release = ReadRelease(r, discId);
        if (!release.tracks.empty()) answer.releases.push_back(std::move(release));
    }
    return answer;
}

std::string RecordText(const Release& release, std::string_view freedbId, std::size_t releasesFound) {
    std::string raw = "# xmcd\n#\n# From MusicBrainz, release " + Escape(release.id) + "\n";
    if (releasesFound > 1)
        raw += "# Note: MusicBrainz knows " + std::to_string(releasesFound) +
               " releases of this disc; the first is taken: " + Escape(release.artist) + " / " +
               Escape(release.title) + " (" + Escape(release.id) + ").\n";
    raw += "#\n";
    raw += "DISCID=" + std::string(freedbId) + "\n";
    raw += "DTITLE=" + Escape(release.artist) + " / " + Escape(release.title) + "\n";
    const std::string year = release.date.substr(0, 4);
    raw += "DYEAR=" + (year.size() == 4 && year.find_first_not_of("0123456789") == std::string::npos ? year : "") + "\n";
    raw += "DGENRE=\n";
    // As freedb has it: a release whose tracks name other artists is a
    // compilation, and each title carries its artist.
    bool ownArtists = false;
    for (const ReleaseTrack& t : release.tracks)
        if (!t.artist.empty() && t.artist != release.artist) ownArtists = true;
    for (std::size_t i = 0; i < release.tracks.size() && i < 99; ++i) {
        const ReleaseTrack& t = release.tracks[i];
        const std::string title = ownArtists && !t.artist.empty() ? t.artist + " / " + t.title : t.title;
        raw += "TTITLE" + std::to_string(i) + "=" + Escape(title) + "\n";
    }
    raw += "EXTD=\n";
    raw += "MBRELEASEID=" + Escape(release.id) + "\n";
    for (std::size_t i = 0; i < release.tracks.size() && i < 99; ++i)
        raw += "MBTRACKID" + std::to_string(i) + "=" + Escape(release.tracks[i].id) + "\n";
    return raw;
}

}  // namespace kiv::musicbrainz
