#pragma once
// The Gaussian numbers of the particle step: the polar method, one number
// at a time (gauss, also the reference randGauss) and the three numbers of
// a sub-step drawn side by side (threeGaussians), which give the same
// numbers from the same stream.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "engine/u_Random.h"
#include "engine/u_StepIsa.h"

namespace kwd::engine {

namespace kwdstep {

// Normal number of mean 1 and deviation 1 truncated to 1 -+ aUpperLimit
// (aUpperLimit > 0), polar method, only x2 used.
KWD_ALWAYS_INLINE double gauss(double aUpperLimit, tRandomStream& aStream) {
    for (;;) {
        double x2 = 0.0, s = 0.0;
        while (s >= 1.0 || s == 0.0) {
            const double x1 = double(aStream.Random(100000000u)) / 100000000.0 * 2.0 - 1.0;
            x2 = double(aStream.Random(100000000u)) / 100000000.0 * 2.0 - 1.0;
            s = x1 * x1 + x2 * x2;
        }
        const double g = x2 * std::sqrt(-2.0 * std::log(s) / s) + 1.0;
        if (std::fabs(g - 1.0) <= aUpperLimit) return g;
    }
}

// The three standard normal numbers of a sub-step (truncated at
// +-aUpperLimit, the step's is 5): what gauss(aUpperLimit) - 1 gives three
// times in turn. The three accepted pairs are drawn first; their logarithms,
// divisions and roots are then taken side by side. Should one of the three
// fall outside the bound (about one in a million), the stream goes back to
// just after that one's pair and the numbers from it on are drawn again one
// by one, as gauss would.
template <class Isa>
KWD_ALWAYS_INLINE void threeGaussians(tRandomStream& aStream, double aUpperLimit, double& gu,
                                      double& gv, double& gw) {
    double x2[3], sq[3];
    uint64_t after[3];
    int n = 0;
    // One pair of uniform numbers in (-1, 1), as gauss draws it; kept if
    // accepted.
    const auto drawPair = [&] {
        const double x1 = double(aStream.Random(100000000u)) / 100000000.0 * 2.0 - 1.0;
        const double x = double(aStream.Random(100000000u)) / 100000000.0 * 2.0 - 1.0;
        const double s = x1 * x1 + x * x;
        if (s < 1.0 && s != 0.0) {
            x2[n] = x;
            sq[n] = s;
            after[n] = aStream.position();
            ++n;
        }
    };
    if constexpr (std::is_same_v<Isa, tIsaAvx2>) {
        // With AVX2, up to eight pairs at a time from the words the stream
        // has made, side by side, up to the first pair with a word Random
        // turns down (that pair is drawn as gauss draws it); the accepted
        // ones are the numbers' pairs, in order. (In the baseline variant
        // this was slower.)
        constexpr uint32_t kRange = 100000000u;
        constexpr uint32_t kTurnDown = (0u - kRange) % kRange;  // Random's threshold
        while (n < 3) {
            aStream.makeBuffered();
            // The pairs made, as bits (computed without a branch: whether
            // there are fewer than eight varies from call to call).
            const unsigned made =
                unsigned(~(~uint64_t(0) << (aStream.bufferedWords() / 2))) & 0xFFu;
            if (made == 0) {  // one word left in the blocks made
                drawPair();
                continue;
            }
            const uint32_t* words = aStream.bufferedAt();
            alignas(32) double xs[8], ss[8];
            tV4 x, s;
            unsigned accepted, turnedDown, acceptedOn, turnedDownOn;
            Isa::pairs4(words, kTurnDown, x, s, accepted, turnedDown);
            std::memcpy(xs, &x, sizeof x);
            std::memcpy(ss, &s, sizeof s);
            Isa::pairs4(words + 8, kTurnDown, x, s, acceptedOn, turnedDownOn);
            std::memcpy(xs + 4, &x, sizeof x);
            std::memcpy(ss + 4, &s, sizeof s);
            // The pairs before the first with a turned-down word, of those made.
            const int usable = __builtin_ctz(turnedDown | turnedDownOn << 4 | ~made);
            unsigned bits = (accepted | acceptedOn << 4) & ((1u << usable) - 1u);
            const uint64_t start = aStream.position();
            int used = usable;
            for (; n < 3 && bits != 0; ++n) {
                const int q = __builtin_ctz(bits);
                bits &= bits - 1;
                x2[n] = xs[q];
                sq[n] = ss[q];
                after[n] = start + uint64_t(2 * q + 2);
                used = q + 1;
            }
            if (n < 3) used = usable;
            aStream.skip(2 * used);
            if (n < 3 && (made >> usable & 1u) != 0) drawPair();
        }
    } else {
        while (n < 3) drawPair();
    }
    alignas(32) double t[4];
    {
        const tV4 num = {-2.0 * std::log(sq[0]), -2.0 * std::log(sq[1]), -2.0 * std::log(sq[2]), 1.0};
        const tV4 den = {sq[0], sq[1], sq[2], 1.0};
        const tV4 q = num / den;
        std::memcpy(t, &q, sizeof t);
    }
    Isa::sqrt4(t);
    double g[3];
    for (int n = 0; n < 3; ++n) {
        g[n] = x2[n] * t[n] + 1.0;
        if (!(std::fabs(g[n] - 1.0) <= aUpperLimit)) {
            aStream.seek(after[n]);
            for (int m = n; m < 3; ++m) {
                // The rest of gauss for number n (its first pair was turned
                // down), then the following numbers.
                g[m] = gauss(aUpperLimit, aStream);
            }
            break;
        }
    }
    gu = g[0] - 1.0;
    gv = g[1] - 1.0;
    gw = g[2] - 1.0;
}

}  // namespace kwdstep

}  // namespace kwd::engine
