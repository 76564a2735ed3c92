// ADPCM and Yamaha ADPCM blocks: the quantisers and their decoders.
#include "audio/adpcm.h"

#include <algorithm>

namespace {

// The IMA/DVI ADPCM step sizes.
constexpr std::int16_t kSteps[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,
    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,   143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,
    544,   598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,
    9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

// Index adjustments by code width, indexed by the code's magnitude bits.
constexpr int kAdjust2[2] = {-1, 2};
constexpr int kAdjust3[4] = {-1, -1, 2, 4};
constexpr int kAdjust4[8] = {-1, -1, -1, -1, 2, 4, 6, 8};
constexpr int kAdjust5[16] = {-1, -1, -1, -1, -1, -1, -1, -1, 1, 2, 4, 6, 8, 10, 13, 16};

const int* Adjustments(int bits) {
    switch (bits) {
    case 2: return kAdjust2;
    case 3: return kAdjust3;
    case 4: return kAdjust4;
    default: return kAdjust5;
    }
}

// Yamaha step scale by magnitude, applied as step × scale / 256.
constexpr int kYamahaScale[8] = {230, 230, 230, 230, 307, 409, 512, 614};

class BitWriter {
public:
    explicit BitWriter(std::uint8_t* out) : out_(out) {}
    void Put(unsigned value, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            if (used_ == 0) out_[bytes_] = 0;
            if ((value >> i) & 1) out_[bytes_] |= static_cast<std::uint8_t>(0x80 >> used_);
            if (++used_ == 8) used_ = 0, ++bytes_;
        }
    }
    std::uint32_t Bytes() const { return bytes_ + (used_ != 0 ? 1 : 0); }

private:
    std::uint8_t* out_;
    std::uint32_t bytes_ = 0;
    int used_ = 0;
};

class BitReader {
public:
    explicit BitReader(std::span<const std::uint8_t> in) : in_(in) {}
    bool Get(int bits, unsigned& value) {
        value = 0;
        for (int i = 0; i < bits; ++i) {
            if (position_ / 8 >= in_.size()) return false;
            value = value << 1 | ((in_[position_ / 8] >> (7 - position_ % 8)) & 1u);
            ++position_;
        }
        return true;
    }

private:
    std::span<const std::uint8_t> in_;
    std::size_t position_ = 0;
};

int Clip16(int v) { return std::clamp(v, -32768, 32767); }

} // namespace

std::int16_t BoostSample(std::int16_t sample, float boost) {
    const float product = static_cast<float>(sample) * boost;
    if (product > 32767.0f) return 32767;
    if (product < -32768.0f) return -32768;
    return static_cast<std::int16_t>(product); // truncates toward zero
}

std::uint32_t EncodeAdpcmBlock(std::int16_t* samples, int count, int codeBits, std::uint8_t* output, float boost) {
    if (count < 1 || codeBits < 2 || codeBits > 5) return 0;
    for (int i = 0; i < count; ++i) samples[i] = BoostSample(samples[i], boost);
    // The first step that covers the opening difference.
    const int opening = count > 1 ? std::abs(samples[1] - samples[0]) : 0;
    int index = 63;
    for (int i = 0; i <= 62; ++i)
        if (kSteps[i] >= opening) {
            index = i;
            break;
        }
    int predictor = samples[0];
    BitWriter out(output);
    out.Put(static_cast<unsigned>(codeBits - 2), 2);
    out.Put(static_cast<unsigned>(index), 6);
    out.Put(static_cast<std::uint8_t>(samples[0] >> 8), 8);
    const int* adjust = Adjustments(codeBits);
    for (int i = 0; i < count; ++i) {
        int diff = samples[i] - predictor;
        const unsigned sign = diff < 0 ? 1u << (codeBits - 1) : 0u;
        if (diff < 0) diff = -diff;
        int step = kSteps[index];
        unsigned mask = 1u << (codeBits - 2), code = 0;
        int vpdiff = 0;
        for (int k = 0; k < codeBits - 1; ++k) {
            if (diff >= step) code |= mask, diff -= step, vpdiff += step;
            mask >>= 1;
            step >>= 1;
        }
        vpdiff += step;
        predictor = Clip16(sign ? predictor - vpdiff : predictor + vpdiff);
        index = std::clamp(index + adjust[code], 0, 88);
        out.Put(sign | code, codeBits);
    }
    return out.Bytes();
}

OSErr DecodeAdpcmBlock(std::span<const std::uint8_t> block, int count, std::int16_t* samples) {
    BitReader in(block);
    unsigned width = 0, index = 0, high = 0;
    if (!in.Get(2, width) || !in.Get(6, index) || !in.Get(8, high)) return paramErr;
    const int codeBits = static_cast<int>(width) + 2;
    if (codeBits > 5) return paramErr;
    // Only the first sample's high byte is stored.
    int predictor = static_cast<std::int8_t>(high) * 256;
    int i88 = std::min<int>(static_cast<int>(index), 88);
    const int* adjust = Adjustments(codeBits);
    for (int i = 0; i < count; ++i) {
        unsigned value = 0;
        if (!in.Get(codeBits, value)) return paramErr;
        const unsigned sign = value >> (codeBits - 1), code = value & ((1u << (codeBits - 1)) - 1);
        int step = kSteps[i88], vpdiff = 0;
        for (int k = codeBits - 2; k >= 0; --k, step >>= 1)
            if ((code >> k) & 1) vpdiff += step;
        vpdiff += step;
        predictor = Clip16(sign ? predictor - vpdiff : predictor + vpdiff);
        i88 = std::clamp(i88 + adjust[code], 0, 88);
        samples[i] = static_cast<std::int16_t>(predictor);
    }
    return noErr;
}

int EncodeYamahaBlock(const std::int16_t* samples, std::uint32_t byteCount, std::uint8_t* output, std::uint32_t& capacity,
                      bool reset, float boost, YamahaState& state) {
    const std::uint32_t count = byteCount / 2;
    const std::uint32_t needed = (count + 1) / 2;
    if (capacity < needed) return 0;
    if (reset) state = YamahaState{};
    int step = state.step, predictor = state.predictor;
    for (std::uint32_t i = 0; i < count; ++i) {
        int diff = BoostSample(samples[i], boost) - predictor;
        const int sign = diff < 0 ? 1 : 0;
        if (diff < 0) diff = -diff;
        const int magnitude = std::min(7, diff / (step / 4));
        const int delta = (magnitude & 1) * (step / 4) + ((magnitude >> 1) & 1) * (step / 2) +
                          ((magnitude >> 2) & 1) * step + step / 8;
        predictor = Clip16(sign ? predictor - delta : predictor + delta);
        step = std::clamp((step * kYamahaScale[magnitude]) >> 8, 127, 24576);
        const auto code = static_cast<std::uint8_t>(sign * 8 + magnitude);
        if (i % 2 == 0) output[i / 2] = code;
        else output[i / 2] = static_cast<std::uint8_t>(output[i / 2] + (code << 4));
    }
    state.step = step;
    state.predictor = predictor;
    capacity = needed;
    return 1;
}

void DecodeYamaha(std::span<const std::uint8_t> codes, std::uint32_t count, std::int16_t* samples, YamahaState& state) {
    int step = state.step, predictor = state.predictor;
    for (std::uint32_t i = 0; i < count && i / 2 < codes.size(); ++i) {
        const int code = i % 2 == 0 ? codes[i / 2] & 0x0F : codes[i / 2] >> 4;
        const int magnitude = code & 7;
        const int delta = (magnitude & 1) * (step / 4) + ((magnitude >> 1) & 1) * (step / 2) +
                          ((magnitude >> 2) & 1) * step + step / 8;
        predictor = Clip16((code & 8) ? predictor - delta : predictor + delta);
        step = std::clamp((step * kYamahaScale[magnitude]) >> 8, 127, 24576);
        samples[i] = static_cast<std::int16_t>(predictor);
    }
    state.step = step;
    state.predictor = predictor;
}
