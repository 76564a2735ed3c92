// MPEG-1 Layer I/II: frame headers, the tables and our decoder.
#include "import/mpegaudio.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "platform/bytes.h"
#include "platform/files.h"
#include "platform/resources.h"

namespace {

constexpr int kSubbands = 32;

// One entry of a Layer II allocation table.
struct Allocation {
    int steps = 0, bits = 0, group = 0, quant = 0;
};
struct AllocationTable {
    int sblimit = 0;
    Allocation entry[kSubbands][16];
};

// Layer II dequantisation per quantisation class (ISO/IEC 11172-3 table
// 3-B.4): s'' = C × (s''' + D).
constexpr double kC[17] = {1.33333333333, 1.60000000000, 1.14285714286, 1.77777777777, 1.06666666666, 1.03225806452,
                           1.01587301587, 1.00787401575, 1.00392156863, 1.00195694716, 1.00097751711, 1.00048851979,
                           1.00024420024, 1.00012208522, 1.00006103888, 1.00003051851, 1.00001525902};
constexpr double kD[17] = {0.50000000000, 0.50000000000, 0.25000000000, 0.50000000000, 0.12500000000, 0.06250000000,
                           0.03125000000, 0.01562500000, 0.00781250000, 0.00390625000, 0.00195312500, 0.00097656250,
                           0.00048828125, 0.00024414063, 0.00012207031, 0.00006103516, 0.00003051758};

// Scale factors (table 3-B.1): 2^(1 - i/3); index 63 is not used.
double ScaleFactor(int i) { return i < 63 ? std::pow(2.0, 1.0 - i / 3.0) : 1e-20; }

// A table resource as the decoder reads it: written to a text file named
// after it in the temporary folder, read line by line, and the file deleted.
// Each use has a name of its own, created exclusively: conversions at once
// never share a table file, and nothing found in the folder is ever read.
OSErr OpenTable(const char* name, FileSpec& path, std::FILE*& file) {
    Resource r;
    if (GetNamedResource(Fcc("MPTB"), name, r) != noErr) return resNotFound;
    std::string lower = name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (OSErr err = CreateTemporaryFile(lower, ".txt", path)) return err;
    File out;
    if (OSErr err = File::Open(path, File::Mode::ReadWrite, out)) {
        (void)DeleteFile(path);
        return err;
    }
    OSErr written = out.WriteAt(0, r.data);
    if (!written) written = out.Close();
    if (written) {
        (void)out.Close();
        (void)DeleteFile(path);
        return written;
    }
    file = std::fopen(path.c_str(), "r");
    if (file == nullptr) {
        (void)DeleteFile(path);
        return ioErr;
    }
    return noErr;
}

void CloseTable(const FileSpec& path, std::FILE* file) {
    std::fclose(file);
    (void)DeleteFile(path);
}

class BitReader {
public:
    explicit BitReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint32_t Get(int n) {
        std::uint32_t v = 0;
        for (int i = 0; i < n; ++i, ++pos_) {
            const std::size_t byte = pos_ >> 3;
            const std::uint32_t bit = byte < bytes_.size() ? (bytes_[byte] >> (7 - (pos_ & 7))) & 1u : 0u;
            v = v << 1 | bit;
        }
        return v;
    }
    bool Overrun() const { return (pos_ + 7) / 8 > bytes_.size(); }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

} // namespace

struct MpegAudioDecoder::State {
    AllocationTable tables[4];
    double window[512] = {};
    double matrix[64][kSubbands] = {};
    double buffer[2][1024] = {};
    int offset[2] = {64, 64};
    // Per granule: fractions of every channel and subband.
    double fraction[2][3][kSubbands] = {};

    // The polyphase synthesis of 32 subband samples into 32 PCM samples.
    void Synthesis(const double* bands, int channel, std::int16_t* out, int stride) {
        offset[channel] = (offset[channel] - 64) & 0x3FF;
        double* v = buffer[channel] + offset[channel];
        for (int i = 0; i < 64; ++i) {
            double sum = 0;
            for (int k = 0; k < kSubbands; ++k) sum += bands[k] * matrix[i][k];
            v[i] = sum;
        }
        for (int j = 0; j < 32; ++j) {
            double sum = 0;
            for (int i = 0; i < 16; ++i) {
                const int k = j + (i << 5);
                sum += window[k] * buffer[channel][((k + (((i + 1) >> 1) << 6)) + offset[channel]) & 0x3FF];
            }
            const double scaled = std::round(sum * 32768.0);
            out[j * stride] = static_cast<std::int16_t>(scaled >= 32767.0 ? 32767 : scaled <= -32768.0 ? -32768 : scaled);
        }
    }
};

OSErr ReadMpegRateTables(std::span<std::uint32_t, kMpegTableEntries> out) {
    Resource rates, samples;
    if (GetIndResource(Fcc("MPBR"), 1, rates) != noErr || rates.data.size() < 4 * 144 ||
        GetIndResource(Fcc("MPSR"), 1, samples) != noErr || samples.data.size() < 4 * 12)
        return memFullErr;
    for (std::size_t i = 0; i < 144; ++i) out[i] = ReadBE32(rates.data.data() + 4 * i);
    for (std::size_t i = 0; i < 12; ++i) out[144 + i] = ReadBE32(samples.data.data() + 4 * i);
    return noErr;
}

bool ParseMpegHeader(std::uint32_t w, std::span<const std::uint32_t> tables, MpegHeader& h) {
    if ((w >> 21) != 0x7FF || tables.size() < kMpegTableEntries) return false;
    const bool id = (w >> 19) & 1;
    const bool lowSampling = (w >> 20) & 1;
    h.version = id ? 0 : lowSampling ? 1 : 2;
    const int layerBits = static_cast<int>((w >> 17) & 3);
    if (layerBits == 0) return false;
    h.layer = 3 - layerBits;
    h.protection = ((w >> 16) & 1) == 0;
    h.bitRateIndex = static_cast<int>((w >> 12) & 15);
    h.samplingIndex = static_cast<int>((w >> 10) & 3);
    h.padding = static_cast<int>((w >> 9) & 1);
    h.privateBit = static_cast<int>((w >> 8) & 1);
    h.mode = static_cast<int>((w >> 6) & 3);
    h.modeExtension = static_cast<int>((w >> 4) & 3);
    h.flags = static_cast<int>((w >> 2) & 3);
    h.emphasis = static_cast<int>(w & 3);
    h.channels = h.mode == 3 ? 1 : 2;
    h.bitRate = static_cast<int>(tables[static_cast<std::size_t>((h.version * 3 + h.layer) * 16 + h.bitRateIndex)]);
    h.sampleRate = static_cast<int>(tables[static_cast<std::size_t>(144 + h.version * 4 + h.samplingIndex)]);
    if (h.bitRate == 0 || h.sampleRate == 0) return false;
    h.samplesPerFrame = h.version == 0 ? 1152 : 576;
    if (h.layer == 0) {
        h.samplesPerFrame = 384;
        h.frameLength = (12 * h.bitRate * 1000 / h.sampleRate + h.padding) * 4;
    } else {
        h.frameLength = static_cast<int>(h.samplesPerFrame * h.bitRate * 1000.0 / h.sampleRate * 0.125) + h.padding;
    }
    return true;
}

MpegAudioDecoder::MpegAudioDecoder() = default;
MpegAudioDecoder::~MpegAudioDecoder() = default;

OSErr MpegAudioDecoder::Start() {
    auto s = std::unique_ptr<State>(new (std::nothrow) State);
    if (!s) return memFullErr;
    // The synthesis matrix: cos((16 + i)(2k + 1)π / 64), kept to nine places.
    for (int i = 0; i < 64; ++i)
        for (int k = 0; k < kSubbands; ++k) {
            double v = 1e9 * std::cos((M_PI / 64 * i + M_PI / 4) * (2 * k + 1));
            v = v >= 0 ? std::floor(v + 0.5) : std::ceil(v - 0.5);
            s->matrix[i][k] = v * 1e-9;
        }
    FileSpec path;
    std::FILE* file = nullptr;
    char line[160];
    for (int t = 0; t < 4; ++t) {
        const std::string name = "ALLOC_" + std::to_string(t);
        if (OSErr err = OpenTable(name.c_str(), path, file)) return err;
        AllocationTable& table = s->tables[t];
        if (std::fgets(line, 80, file) == nullptr || std::sscanf(line, "%d", &table.sblimit) != 1 || table.sblimit > kSubbands) {
            CloseTable(path, file);
            return resNotFound;
        }
        while (std::fgets(line, 80, file) != nullptr) {
            int sb = 0, j = 0, steps = 0, bits = 0, group = 0, quant = 0;
            if (std::sscanf(line, "%d %d %d %d %d %d\n", &sb, &j, &steps, &bits, &group, &quant) != 6) continue;
            if (sb < 0 || sb >= kSubbands || j < 0 || j >= 16 || quant < 0 || quant > 16) continue;
            table.entry[sb][j] = {steps, bits, group, quant};
        }
        CloseTable(path, file);
    }
    if (OSErr err = OpenTable("DEWINDOW", path, file)) return err;
    for (int g = 0; g < 128; ++g) {
        int index[4];
        double value[4];
        if (std::fgets(line, 150, file) == nullptr ||
            std::sscanf(line, "D[%d] = %lf D[%d] = %lf D[%d] = %lf D[%d] = %lf\n", &index[0], &value[0], &index[1], &value[1],
                        &index[2], &value[2], &index[3], &value[3]) != 8) {
            CloseTable(path, file);
            return resNotFound;
        }
        for (int k = 0; k < 4; ++k)
            if (index[k] >= 0 && index[k] < 512) s->window[index[k]] = value[k];
        (void)std::fgets(line, 150, file); // the separator line
    }
    CloseTable(path, file);
    state_ = std::move(s);
    return noErr;
}

OSErr MpegAudioDecoder::DecodeFrame(std::span<const std::uint8_t> frame, std::span<const std::uint32_t> tables,
                                    int& sampleFrames, std::int16_t* pcm) {
    sampleFrames = 0;
    if (!state_ || frame.size() < 4) return paramErr;
    State& s = *state_;
    BitReader bits(frame);
    MpegHeader h;
    if (!ParseMpegHeader(bits.Get(32), tables, h)) return paramErr;
    if (h.protection) (void)bits.Get(16); // the CRC is not checked
    const int channels = h.channels;
    if (h.layer == 0) {
        // Layer I: 4-bit allocations, 6-bit scale factors, 12 samples per subband.
        const int bound = h.mode == 1 ? 4 + 4 * h.modeExtension : kSubbands;
        int allocation[2][kSubbands] = {}, scale[2][kSubbands] = {};
        for (int sb = 0; sb < kSubbands; ++sb)
            for (int ch = 0; ch < channels; ++ch) {
                if (sb >= bound && ch == 1) allocation[1][sb] = allocation[0][sb];
                else allocation[ch][sb] = static_cast<int>(bits.Get(4));
                if (allocation[ch][sb] == 15) return paramErr;
            }
        for (int sb = 0; sb < kSubbands; ++sb)
            for (int ch = 0; ch < channels; ++ch)
                if (allocation[ch][sb]) scale[ch][sb] = static_cast<int>(bits.Get(6));
        for (int n = 0; n < 12; ++n) {
            double bands[2][kSubbands] = {};
            for (int sb = 0; sb < kSubbands; ++sb) {
                std::uint32_t code[2] = {};
                for (int ch = 0; ch < channels; ++ch) {
                    if (sb >= bound && ch == 1) code[1] = code[0];
                    else if (allocation[ch][sb]) code[ch] = bits.Get(allocation[ch][sb] + 1);
                }
                for (int ch = 0; ch < channels; ++ch) {
                    const int nb = allocation[ch][sb] + 1;
                    if (allocation[ch][sb] == 0) continue;
                    double f = ((code[ch] >> (nb - 1)) & 1) ? 0.0 : -1.0;
                    f += static_cast<double>(code[ch] & ((1u << (nb - 1)) - 1)) / static_cast<double>(1u << (nb - 1));
                    f = (f + 1.0 / static_cast<double>(1u << (nb - 1))) * static_cast<double>(1u << nb) / static_cast<double>((1u << nb) - 1);
                    bands[ch][sb] = f * ScaleFactor(scale[ch][sb]);
                }
            }
            for (int ch = 0; ch < channels; ++ch) s.Synthesis(bands[ch], ch, pcm + n * 32 * channels + ch, channels);
        }
        if (bits.Overrun()) return paramErr;
        sampleFrames = 384;
        return noErr;
    }
    if (h.layer != 1) return noErr; // Layer III: no samples

    // Layer II: the allocation table by bit rate per channel and sampling rate.
    if (h.version != 0) return paramErr;
    const int perChannel = h.bitRate / channels;
    int tableIndex = 3;
    if ((h.sampleRate == 48000 && perChannel >= 56) || (perChannel >= 56 && perChannel <= 80)) tableIndex = 0;
    else if (h.sampleRate != 48000 && perChannel >= 96) tableIndex = 1;
    else if (h.sampleRate != 32000 && perChannel <= 48) tableIndex = 2;
    const AllocationTable& table = s.tables[tableIndex];
    const int sblimit = table.sblimit;
    const int bound = h.mode == 1 ? std::min(4 + 4 * h.modeExtension, sblimit) : sblimit;
    int allocation[2][kSubbands] = {}, selection[2][kSubbands] = {}, scale[2][3][kSubbands] = {};
    for (int sb = 0; sb < sblimit; ++sb)
        for (int ch = 0; ch < channels; ++ch) {
            if (sb >= bound && ch == 1) allocation[1][sb] = allocation[0][sb];
            else allocation[ch][sb] = static_cast<int>(bits.Get(table.entry[sb][0].bits));
        }
    for (int sb = 0; sb < sblimit; ++sb)
        for (int ch = 0; ch < channels; ++ch)
            if (allocation[ch][sb]) selection[ch][sb] = static_cast<int>(bits.Get(2));
    for (int sb = 0; sb < sblimit; ++sb)
        for (int ch = 0; ch < channels; ++ch) {
            if (!allocation[ch][sb]) continue;
            auto at = [&](int part) -> int& { return scale[ch][part][sb]; };
            switch (selection[ch][sb]) {
            case 0: at(0) = static_cast<int>(bits.Get(6)), at(1) = static_cast<int>(bits.Get(6)), at(2) = static_cast<int>(bits.Get(6)); break;
            case 1: at(0) = at(1) = static_cast<int>(bits.Get(6)), at(2) = static_cast<int>(bits.Get(6)); break;
            case 2: at(0) = at(1) = at(2) = static_cast<int>(bits.Get(6)); break;
            default: at(0) = static_cast<int>(bits.Get(6)), at(1) = at(2) = static_cast<int>(bits.Get(6)); break;
            }
        }
    for (int granule = 0; granule < 12; ++granule) {
        const int part = granule / 4;
        for (int sb = 0; sb < kSubbands; ++sb) {
            std::uint32_t codes[2][3] = {};
            for (int ch = 0; ch < channels; ++ch) {
                if (sb >= sblimit || !allocation[ch][sb]) continue;
                if (sb >= bound && ch == 1) {
                    std::memcpy(codes[1], codes[0], sizeof codes[0]);
                    continue;
                }
                const Allocation& a = table.entry[sb][allocation[ch][sb]];
                if (a.group == 3) {
                    // Three samples in one codeword.
                    std::uint32_t c = bits.Get(a.bits);
                    for (int k = 0; k < 3; ++k) {
                        codes[ch][k] = c % static_cast<std::uint32_t>(a.steps);
                        c /= static_cast<std::uint32_t>(a.steps);
                    }
                } else {
                    for (int k = 0; k < 3; ++k) codes[ch][k] = bits.Get(a.bits);
                }
            }
            for (int ch = 0; ch < channels; ++ch)
                for (int k = 0; k < 3; ++k) {
                    if (sb >= sblimit || !allocation[ch][sb]) {
                        s.fraction[ch][k][sb] = 0;
                        continue;
                    }
                    const Allocation& a = table.entry[sb][allocation[ch][sb]];
                    int x = 0;
                    while ((1 << x) < a.steps) ++x;
                    double f = ((codes[ch][k] >> (x - 1)) & 1) ? 0.0 : -1.0;
                    f += static_cast<double>(codes[ch][k] & ((1u << (x - 1)) - 1)) / static_cast<double>(1u << (x - 1));
                    f = (f + kD[a.quant]) * kC[a.quant];
                    s.fraction[ch][k][sb] = f * ScaleFactor(scale[ch][part][sb]);
                }
        }
        for (int k = 0; k < 3; ++k)
            for (int ch = 0; ch < channels; ++ch)
                s.Synthesis(s.fraction[ch][k], ch, pcm + (granule * 96 + k * 32) * channels + ch, channels);
    }
    if (bits.Overrun()) return paramErr;
    sampleFrames = 1152;
    return noErr;
}
