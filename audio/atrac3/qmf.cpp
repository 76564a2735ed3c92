// The QMF analysis: one band into two half-rate bands with the 48-tap
// prototype every ATRAC3 decoder synthesises with. Three splits give the four
// QMF bands. The filter is the time-reversed transpose of the decoder's
// synthesis; as the prototype is symmetric, that is the same filter run
// forward, so the analysis stays causal.
//
// The sums are formed in four lanes, each lane adding every fourth product in
// order, and the lanes are combined as (0 + 2) + (1 + 3): the plain and the
// SSE variant round identically and give identical frames.
#include "audio/atrac3/at3internal.h"

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace {

// The prototype's first half (the second half mirrors it).
constexpr float kPrototypeHalf[24] = {
    -0.00001461907f,  -0.00009205479f, -0.000056157569f, 0.00030117269f, 0.0002422519f,   -0.00085293897f,
    -0.0005205574f,   0.0020340169f,   0.00078333891f,   -0.0042153862f, -0.00075614988f, 0.0078402944f,
    -0.000061169922f, -0.01344162f,    0.0024626821f,    0.021736089f,   -0.007801671f,   -0.034090221f,
    0.01880949f,      0.054326009f,    -0.043596379f,    -0.099384367f,  0.13207909f,     0.46424159f};

struct Taps {
    // odd[u] pairs with the odd input samples, even[u] with the even ones.
    alignas(16) float odd[24];
    alignas(16) float even[24];
};

const Taps& QmfTaps() {
    static const Taps taps = [] {
        Taps t{};
        float h[48];
        for (int i = 0; i < 24; ++i) h[i] = h[47 - i] = kPrototypeHalf[i];
        for (int u = 0; u < 24; ++u) {
            t.odd[u] = h[46 - 2 * u];
            t.even[u] = h[47 - 2 * u];
        }
        return t;
    }();
    return taps;
}

// Splits history + input into its even and odd samples (each count / 2 + 23
// long) and keeps the last kAt3QmfHistory input samples for the next call.
void Deinterleave(const float* in, int count, float* history, float* even, float* odd) {
    const int total = count + kAt3QmfHistory;
    for (int m = 0; m < total; m += 2) {
        even[m / 2] = m < kAt3QmfHistory ? history[m] : in[m - kAt3QmfHistory];
        odd[m / 2] = m + 1 < kAt3QmfHistory ? history[m + 1] : in[m + 1 - kAt3QmfHistory];
    }
    for (int m = 0; m < kAt3QmfHistory; ++m) history[m] = in[count - kAt3QmfHistory + m];
}

inline float Dot24Plain(const float* taps, const float* x) {
    float lane[4];
    for (int l = 0; l < 4; ++l) lane[l] = taps[l] * x[l];
    for (int j = 4; j < 24; j += 4)
        for (int l = 0; l < 4; ++l) lane[l] = lane[l] + taps[j + l] * x[j + l];
    return (lane[0] + lane[2]) + (lane[1] + lane[3]);
}

// The split with a given dot product: each output pair is the sum and the
// difference of the odd samples' and the even samples' filter outputs.
template <float (*Dot)(const float*, const float*)>
void Split(const float* in, int count, float* low, float* high, float* history, float* work) {
    const int half = count / 2 + kAt3QmfHistory / 2;
    float* even = work;
    float* odd = work + half;
    Deinterleave(in, count, history, even, odd);
    const Taps& taps = QmfTaps();
    for (int i = 0; i < count / 2; ++i) {
        const float a = Dot(taps.odd, odd + i);
        const float b = Dot(taps.even, even + i);
        low[i] = a + b;
        high[i] = a - b;
    }
}

} // namespace

void At3QmfSplitPlain(const float* in, int count, float* low, float* high, float* history, float* work) {
    Split<Dot24Plain>(in, count, low, high, history, work);
}

#if defined(__SSE__)
namespace {

inline float Dot24Sse(const float* taps, const float* x) {
    __m128 acc = _mm_mul_ps(_mm_load_ps(taps), _mm_loadu_ps(x));
    for (int j = 4; j < 24; j += 4) acc = _mm_add_ps(acc, _mm_mul_ps(_mm_load_ps(taps + j), _mm_loadu_ps(x + j)));
    const __m128 pairs = _mm_add_ps(acc, _mm_movehl_ps(acc, acc));
    return _mm_cvtss_f32(_mm_add_ss(pairs, _mm_shuffle_ps(pairs, pairs, 1)));
}

void QmfSplitSse(const float* in, int count, float* low, float* high, float* history, float* work) {
    Split<Dot24Sse>(in, count, low, high, history, work);
}

} // namespace
#endif

At3Kernels At3KernelsFor([[maybe_unused]] At3Cpu cpu) {
    At3Kernels k{At3QmfSplitPlain, At3Dct4Plain};
#if defined(__SSE__)
    // MMX has no floating point: its level runs the plain kernels.
    if (cpu == At3Cpu::kKni) {
        k.qmfSplit = QmfSplitSse;
        k.dct4 = At3Dct4Sse;
    }
#endif
    return k;
}
