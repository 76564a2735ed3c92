// The messages of a file's outcome, from the error table.
#include "engine/messages.h"

#include "platform/resources.h"

namespace {

constexpr ResID kConversionMessages = 133;
constexpr std::int16_t kErrorCodeItem = 1, kCompleteItem = 5;

// The message of a code in the error table ('ESTR' 128): a count, then per
// entry a signed 16-bit code and a length-prefixed message.
bool TableMessage(OSErr code, std::string& message) {
    Resource table;
    if (GetIndResource(Fcc("ESTR"), 1, table) != noErr) return false;
    ByteReader r(table.data);
    std::uint16_t count = 0;
    if (!r.U16(count)) return false;
    for (std::uint16_t i = 0; i < count; ++i) {
        std::int16_t entry = 0;
        std::string text;
        if (!r.I16(entry) || !r.PString(text)) return false;
        if (entry == code) {
            message = text;
            return true;
        }
    }
    return false;
}

} // namespace

std::string ConversionMessage(OSErr result, OSType missingDecoder) {
    std::string text;
    if (result == noErr) {
        if (GetIndString(kConversionMessages, kCompleteItem, text) != noErr) text = "Conversion complete";
        return text;
    }
    if (!TableMessage(result, text)) {
        if (GetIndString(kConversionMessages, kErrorCodeItem, text) != noErr) text = "Error code ";
        text += std::to_string(static_cast<int>(result));
    }
    if (result == noCodecErr && missingDecoder != 0) text += " ('" + FourCharCodeToText(missingDecoder) + "')";
    return text;
}
