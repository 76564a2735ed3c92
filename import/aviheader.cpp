// The AVI header walk: the first video codec and the first sound tag.
#include "import/aviheader.h"

#include <vector>

namespace {

bool Is(const std::uint8_t* p, const char (&code)[5]) {
    return p[0] == code[0] && p[1] == code[1] && p[2] == code[2] && p[3] == code[3];
}

// No stream list is anywhere near this big; a larger size is a broken file.
constexpr std::uint32_t kMaxListBytes = 1u << 20;

} // namespace

OSErr ReadAviHeader(const FileSpec& path, OSType* videoCodec, std::uint16_t* audioTag) {
    if (videoCodec) *videoCodec = 0;
    if (audioTag) *audioTag = 0;
    File file;
    if (OSErr err = File::Open(path, File::Mode::Read, file)) return err;
    std::uint8_t head[32];
    if (file.ReadAt(0, head) != noErr) return noErr;
    if (!Is(head, "RIFF") || !Is(head + 8, "AVI ") || !Is(head + 12, "LIST") || !Is(head + 20, "hdrl") || !Is(head + 24, "avih"))
        return noErr;
    const std::uint32_t avihSize = ReadLE32(head + 28);
    if (avihSize < 28 || avihSize > kMaxListBytes) return noErr;
    std::vector<std::uint8_t> avih(avihSize);
    if (file.ReadAt(32, avih) != noErr) return noErr;
    const std::uint32_t streams = ReadLE32(avih.data() + 24);
    std::uint64_t at = 32 + std::uint64_t{avihSize};
    bool haveVideo = false, haveAudio = false;
    for (std::uint32_t s = 0; s < streams; ++s) {
        std::uint8_t list[8];
        if (file.ReadAt(at, list) != noErr || !Is(list, "LIST")) break;
        const std::uint32_t size = ReadLE32(list + 4);
        if (size < 4 || size > kMaxListBytes) break;
        std::vector<std::uint8_t> body(size);
        if (file.ReadAt(at + 8, body) != noErr || !Is(body.data(), "strl")) break;
        at += 8 + std::uint64_t{size};
        // The stream's chunks: "strh" says what kind it is, "strf" its format.
        enum class Kind { Other, Video, Audio } kind = Kind::Other;
        for (std::size_t c = 4; c + 8 <= body.size();) {
            const std::uint8_t* chunk = body.data() + c;
            const std::uint32_t length = ReadLE32(chunk + 4);
            if (length > body.size() - c - 8) break;
            const std::uint8_t* data = chunk + 8;
            if (Is(chunk, "strh") && length >= 4) {
                if (Is(data, "vids") && !haveVideo) kind = Kind::Video;
                if (Is(data, "auds") && !haveAudio) kind = Kind::Audio;
            } else if (Is(chunk, "strf")) {
                if (kind == Kind::Video && length >= 20) {
                    if (videoCodec) *videoCodec = ReadBE32(data + 16);
                    haveVideo = true;
                } else if (kind == Kind::Audio && length >= 2) {
                    if (audioTag) *audioTag = ReadLE16(data);
                    haveAudio = true;
                }
            }
            c += 8 + length;
        }
    }
    return noErr;
}

bool HasAviExtension(std::string_view name) {
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos) return false;
    std::string_view ext = name.substr(dot + 1, 3);
    if (ext.size() != 3) return false;
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return lower(ext[0]) == 'a' && lower(ext[1]) == 'v' && lower(ext[2]) == 'i';
}
