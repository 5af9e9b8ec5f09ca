#include "shell/virus_scan.h"

#include <filesystem>

#include "config/app_settings.h"
#include "config/pattern_list.h"

namespace fetchora {

VirusScanSettings virusScanSettings(const AppSettings& settings)
{
    return {settings.GetOptionText(OptionId::VirusScanner), settings.GetOptionText(OptionId::VirusScannerArgs),
            settings.GetOptionText(OptionId::VirusScanTypes)};
}

std::vector<std::string> splitArgumentWords(std::string_view text)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool quoted = false;
    for (const char c : text) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (!quoted && (c == ' ' || c == '\t')) {
            if (inWord)
                words.push_back(std::move(word));
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words.push_back(std::move(word));
    return words;
}

std::vector<std::string> virusScanCommand(const VirusScanSettings& settings, const std::string& filePath,
                                          VirusScanTrigger trigger)
{
    if (settings.scanner.empty() || filePath.empty())
        return {};
    if (trigger == VirusScanTrigger::AfterDownload && !settings.types.empty()) {
        const std::string name = std::filesystem::path(filePath).filename().string();
        if (!matchPatternList(settings.types, fileExtension(name)))
            return {};
    }
    std::vector<std::string> argv{settings.scanner};
    for (std::string& word : splitArgumentWords(settings.arguments))
        argv.push_back(std::move(word));
    argv.push_back(filePath);
    return argv;
}

}  // namespace fetchora
