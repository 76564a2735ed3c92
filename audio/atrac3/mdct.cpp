// The windowed MDCT of each QMF band: 512 samples (the last frame's 256 and
// this frame's 256) into 256 spectral lines.
//
// The window is the analysis half of the ATRAC3 window pair,
// w(n) = (sin(((n + 0.5) / 256 - 0.5) π) + 1) / 2 mirrored about the middle;
// the decoder's synthesis window w / (w(n)² + w(255 - n)²) completes it, so
// the overlapping halves add back to the signal. The MDCT is computed as a
// type-IV DCT of the folded window, the DCT as a product with a cosine
// table; its sums use the same four lanes as the QMF so that the plain and
// SSE variants agree to the bit.
#include <cmath>

#include "audio/atrac3/at3internal.h"

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace {

constexpr int kN = kAt3BandLines;

// The spectrum comes out in sample units: an unnormalised MDCT followed by
// the decoder's inverse gains N / 2, so its lines carry 2 / N; and the
// decoders' inverse transform has the opposite sign to this one's.
constexpr float kScale = -2.0f / kN;

struct Tables {
    alignas(32) float cosine[kN * kN]; // cos(π / N (n + ½)(k + ½)), row k
    alignas(32) float window[2 * kN];
};

const Tables& MdctTables() {
    static const Tables* tables = [] {
        auto* t = new Tables;
        for (int k = 0; k < kN; ++k)
            for (int n = 0; n < kN; ++n)
                t->cosine[k * kN + n] = static_cast<float>(std::cos(M_PI / kN * (n + 0.5) * (k + 0.5)));
        for (int n = 0; n < kN; ++n) {
            const float w = static_cast<float>((std::sin(((n + 0.5) / kN - 0.5) * M_PI) + 1.0) * 0.5);
            t->window[n] = t->window[2 * kN - 1 - n] = w * kScale;
        }
        return t;
    }();
    return *tables;
}

} // namespace

void At3Dct4Plain(const float* in, float* out) {
    const Tables& t = MdctTables();
    for (int k = 0; k < kN; ++k) {
        const float* row = t.cosine + k * kN;
        float lane[4];
        for (int l = 0; l < 4; ++l) lane[l] = row[l] * in[l];
        for (int n = 4; n < kN; n += 4)
            for (int l = 0; l < 4; ++l) lane[l] = lane[l] + row[n + l] * in[n + l];
        out[k] = (lane[0] + lane[2]) + (lane[1] + lane[3]);
    }
}

#if defined(__SSE__)
void At3Dct4Sse(const float* in, float* out) {
    const Tables& t = MdctTables();
    for (int k = 0; k < kN; ++k) {
        const float* row = t.cosine + k * kN;
        __m128 acc = _mm_mul_ps(_mm_load_ps(row), _mm_loadu_ps(in));
        for (int n = 4; n < kN; n += 4) acc = _mm_add_ps(acc, _mm_mul_ps(_mm_load_ps(row + n), _mm_loadu_ps(in + n)));
        const __m128 pairs = _mm_add_ps(acc, _mm_movehl_ps(acc, acc));
        out[k] = _mm_cvtss_f32(_mm_add_ss(pairs, _mm_shuffle_ps(pairs, pairs, 1)));
    }
}
#else
void At3Dct4Sse(const float* in, float* out) { At3Dct4Plain(in, out); }
#endif

void At3Mdct(const At3Kernels& kernels, const float* in, float* lines) {
    const Tables& t = MdctTables();
    // Fold the windowed quarters a b c d into (-c_r - d, a - b_r).
    alignas(16) float folded[kN];
    const float* w = t.window;
    for (int n = 0; n < kN / 2; ++n) {
        folded[n] = -(in[3 * kN / 2 - 1 - n] * w[3 * kN / 2 - 1 - n]) - in[3 * kN / 2 + n] * w[3 * kN / 2 + n];
        folded[kN / 2 + n] = in[n] * w[n] - in[kN - 1 - n] * w[kN - 1 - n];
    }
    kernels.dct4(folded, lines);
}
