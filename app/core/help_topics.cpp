#include "app/core/help_topics.h"

#include <fstream>

#include "app/core/data_paths.h"

namespace kiv::app {

std::string HelpFolder() { return DataDirectory() + "help/"; }

std::string HelpTopicPath(const std::string& topic) {
    if (topic.empty() || topic.front() == '.' || topic.find('/') != std::string::npos) return {};
    return HelpFolder() + topic + ".html";
}

std::vector<HelpEntry> ReadHelpContents(const std::string& contentsFile) {
    std::vector<HelpEntry> entries;
    std::ifstream in(contentsFile);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line.front() == '#') continue;
        auto bar = line.find('|');
        std::string topic = line.substr(0, bar);
        if (topic.empty()) continue;
        entries.push_back({topic, bar == std::string::npos ? topic : line.substr(bar + 1)});
    }
    return entries;
}

}  // namespace kiv::app
