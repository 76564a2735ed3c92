// The MPEG Layer-3 sound of an AVI copied out of its sound chunks.
#include "import/avimp3.h"

#include <vector>

namespace {

constexpr std::size_t kPiece = 16384;

} // namespace

OSErr ExtractAviMp3(const FileSpec& source, CopyProgressProc progress, void* refcon, FileSpec& out) {
    File in;
    if (OSErr err = File::Open(source, File::Mode::Read, in)) return err;
    std::uint64_t size = 0;
    if (OSErr err = in.Size(size)) return err;
    FileSpec path;
    if (OSErr err = CreateTemporaryFile("blah", ".mp3", path)) return err;
    ScopedFileDeletion cleanup(path);
    File mp3;
    if (OSErr err = File::Open(path, File::Mode::ReadWrite, mp3)) return err;
    if (progress) progress(0, 0, refcon); // opening: its answer comes with the first update

    // A scanner over the file read in pieces: "01wb", a 32-bit little-endian
    // size, the body (collected across pieces), a pad byte after an odd body.
    enum class Step { Seek, Size, Body, Skip, Pad } step = Step::Seek;
    std::uint8_t tag[4] = {}, sizeBytes[4] = {};
    int sizeHave = 0;
    std::uint32_t remaining = 0, chunkSize = 0;
    std::vector<std::uint8_t> body, piece(kPiece);
    std::uint64_t written = 0;
    for (std::uint64_t offset = 0; offset < size; offset += kPiece) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kPiece, size - offset));
        if (OSErr err = in.ReadAt(offset, std::span<std::uint8_t>(piece.data(), n))) return err;
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint8_t b = piece[i];
            switch (step) {
            case Step::Seek:
                tag[0] = tag[1], tag[1] = tag[2], tag[2] = tag[3], tag[3] = b;
                if (tag[0] == '0' && tag[1] == '1' && tag[2] == 'w' && tag[3] == 'b') {
                    step = Step::Size;
                    sizeHave = 0;
                }
                break;
            case Step::Size:
                sizeBytes[sizeHave++] = b;
                if (sizeHave == 4) {
                    chunkSize = ReadLE32(sizeBytes);
                    remaining = chunkSize;
                    body.clear();
                    step = chunkSize == 0 ? Step::Seek : chunkSize <= kSmallestKeptChunk ? Step::Skip : Step::Body;
                    std::fill(std::begin(tag), std::end(tag), 0);
                }
                break;
            case Step::Body:
            case Step::Skip: {
                // Take as much of the body as this piece holds.
                const std::size_t take = std::min<std::size_t>(remaining, n - i);
                if (step == Step::Body) body.insert(body.end(), piece.begin() + static_cast<std::ptrdiff_t>(i),
                                                    piece.begin() + static_cast<std::ptrdiff_t>(i + take));
                remaining -= static_cast<std::uint32_t>(take);
                i += take - 1;
                if (remaining == 0) {
                    if (step == Step::Body) {
                        if (OSErr err = mp3.WriteAt(written, body)) return err;
                        written += body.size();
                    }
                    step = chunkSize % 2 == 1 ? Step::Pad : Step::Seek;
                }
                break;
            }
            case Step::Pad: step = Step::Seek; break;
            }
        }
        if (progress) {
            const double done = 0.05 * static_cast<double>(offset + n) / static_cast<double>(size);
            if (progress(1, static_cast<Fixed>(done * 65536.0), refcon) != 0) return userCanceledErr;
        }
    }
    if (OSErr err = mp3.Close()) return err;
    cleanup.Release();
    out = path;
    return noErr;
}
