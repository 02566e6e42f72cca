// The program's help: HTML topics in the data folder, each addressed by the
// context string the windows use ("Welcome", ...), and a contents list.
#pragma once

#include <string>
#include <vector>

namespace kiv::app {

// DataDirectory() + "help/".
std::string HelpFolder();
// HelpFolder() + topic + ".html". A topic is a plain name; anything with a
// path separator or a leading dot gives an empty path, so a link can never
// lead the viewer out of the help folder.
std::string HelpTopicPath(const std::string& topic);

struct HelpEntry {
    std::string topic, title;
};
// "help/contents.txt": one "Topic|Title" line per entry, in reading order;
// blank lines and lines starting with '#' are skipped, as are lines that
// name no topic.
std::vector<HelpEntry> ReadHelpContents(const std::string& contentsFile);

}  // namespace kiv::app
