// The formats' table: look-ups and names.
#include "moviedb/formats.h"

#include <vector>

#include "platform/resources.h"

const VideoFormatEntry* FindVideoFormat(std::int32_t depth) {
    for (const VideoFormatEntry& e : kVideoFormats)
        if (Code(e.depth) == depth) return &e;
    return nullptr;
}

const SoundFormatEntry* FindSoundFormat(std::int32_t code) {
    for (const SoundFormatEntry& e : kSoundFormats)
        if (Code(e.format) == code) return &e;
    return nullptr;
}

std::string CommandLineNames(bool video) {
    std::vector<std::string_view> names;
    const auto add = [&](std::string_view name) {
        for (std::string_view n : names)
            if (n == name) return;
        names.push_back(name);
    };
    if (video) {
        for (const VideoFormatEntry& e : kVideoFormats) add(e.commandLine);
    } else {
        for (const SoundFormatEntry& e : kSoundFormats) add(e.commandLine);
    }
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) text += i + 1 == names.size() ? " or " : ", ";
        text += names[i];
    }
    return text;
}

std::string SoundFormatName(std::int32_t code) {
    const SoundFormatEntry* e = FindSoundFormat(code);
    if (e == nullptr) return "code " + std::to_string(code);
    // Without the resources the command line's name still says which.
    std::string name;
    if (GetIndString(144, e->nameItem, name) != noErr) return std::string(e->commandLine);
    return name + std::string(e->ratio);
}
