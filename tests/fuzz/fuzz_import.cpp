// Feeds arbitrary bytes to the readers of source files the system parses
// itself: the AVI header walk and the MP3 copy, the MPEG-1 system stream
// demultiplexer with its frame reader, and the MPEG audio decoder.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "import/aviheader.h"
#include "import/avimp3.h"
#include "import/mpegaudio.h"
#include "import/mpegsystem.h"
#include "platform/bytes.h"
#include "platform/files.h"
#include "platform/resources.h"
#include "resources/application_resources.h"

namespace {

std::vector<std::uint32_t> gTables;
MpegAudioDecoder* gDecoder = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    gTables.resize(kMpegTableEntries);
    if (OpenApplicationResources() != noErr ||
        ReadMpegRateTables(std::span<std::uint32_t, kMpegTableEntries>(gTables.data(), kMpegTableEntries)) != noErr)
        return 0;
    gDecoder = new MpegAudioDecoder;
    if (gDecoder->Start() != noErr) gDecoder = nullptr;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size == 0 || gDecoder == nullptr) return 0;
    // The input as one frame for the decoder.
    std::vector<std::int16_t> pcm(2304);
    int count = 0;
    (void)gDecoder->DecodeFrame({bytes, size}, gTables, count, pcm.data());

    // The input as a file.
    const FileSpec path = TemporaryFolder() / ("vantro-fuzz-" + std::to_string(getpid()));
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(size));
    OSType codec = 0;
    std::uint16_t tag = 0;
    (void)ReadAviHeader(path, &codec, &tag);
    FileSpec copy;
    if (ExtractAviMp3(path, nullptr, nullptr, copy) == noErr) (void)DeleteFile(copy);
    MpegDemuxer demuxer;
    if (demuxer.Open(path) == noErr) {
        std::uint8_t id = 0;
        std::span<const std::uint8_t> payload;
        for (int i = 0; i < 1000 && demuxer.NextPacket(id, payload) == 0; ++i) {
        }
    }
    std::unique_ptr<MpegAudioSource> source;
    if (OpenMpegAudio(path, gTables, source) == noErr) {
        MpegSoundSource sound(std::move(source), 0);
        SoundChunk chunk;
        for (int i = 0; i < 50 && sound.GetChunk(chunk) == noErr; ++i) {
        }
    }
    (void)DeleteFile(path);
    return 0;
}
