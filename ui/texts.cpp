// The window's texts from the string lists.
#include "ui/texts.h"

#include <string>

QString Text(ResID list, std::int16_t item, const char* fallback) {
    std::string text;
    if (GetIndString(list, item, text) != noErr || text.empty()) return QString::fromUtf8(fallback);
    return QString::fromUtf8(text);
}
