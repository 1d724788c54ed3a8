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
// times in turn. The three accepted pairs
// are drawn first; their logarithms, divisions and roots are then taken side
// by side. Should one of the three fall outside the bound (about one in a
// million), the stream goes back to just after that one's pair and the
// numbers from it on are drawn again one by one, as gauss would.
template <class Isa>
KWD_ALWAYS_INLINE void threeGaussians(tRandomStream& aStream, double aUpperLimit, double& gu,
                                      double& gv, double& gw) {
    double x2[3], sq[3];
    uint64_t after[3];
    int n = 0;
    // With AVX2, up to four pairs from the words the stream has made
    // already, taken side by side: the uniform numbers Random(10^8) gives
    // for them (up to the first word it would turn down), their divisions,
    // and which pairs are accepted; the first three accepted ones are the
    // numbers' pairs. (In the baseline variant this was slower.)
    constexpr uint32_t kRange = 100000000u;
    constexpr uint32_t kTurnedDown = (0u - kRange) % kRange;  // Random's threshold
    const int buffered = std::is_same_v<Isa, tIsaAvx2> ? aStream.bufferedWords() : 0;
    if (buffered >= 2) {
        const uint32_t* words = aStream.bufferedAt();
        const int pairs = buffered >= 8 ? 4 : buffered / 2;
        tV4 a = {0.0, 0.0, 0.0, 0.0}, b = {0.0, 0.0, 0.0, 0.0};  // unused: s = 2, turned down
        int usable = 0;
        for (; usable < pairs; ++usable) {
            const uint64_t m1 = uint64_t(words[2 * usable]) * kRange;
            const uint64_t m2 = uint64_t(words[2 * usable + 1]) * kRange;
            if (uint32_t(m1) < kTurnedDown || uint32_t(m2) < kTurnedDown) break;
            a[usable] = double(uint32_t(m1 >> 32));
            b[usable] = double(uint32_t(m2 >> 32));
        }
        const tV4 x1 = a / 100000000.0 * 2.0 - 1.0;
        const tV4 x = b / 100000000.0 * 2.0 - 1.0;
        const tV4 s = x1 * x1 + x * x;
        const auto accepted = (s < 1.0) & (s != 0.0);
        unsigned bits = 0;
        for (int q = 0; q < usable; ++q) bits |= accepted[q] != 0 ? 1u << q : 0u;
        int used = usable;
        for (; n < 3 && bits != 0; ++n) {
            const int q = __builtin_ctz(bits);
            bits &= bits - 1;
            x2[n] = x[q];
            sq[n] = s[q];
            after[n] = aStream.position() + uint64_t(2 * q + 2);
            used = q + 1;
        }
        if (n < 3) used = usable;
        aStream.skip(2 * used);
    }
    for (; n < 3; ++n) {
        double x = 0.0, s = 0.0;
        while (s >= 1.0 || s == 0.0) {
            // A pair of uniform numbers in (-1, 1), as gauss draws them.
            const double x1 = double(aStream.Random(100000000u)) / 100000000.0 * 2.0 - 1.0;
            x = double(aStream.Random(100000000u)) / 100000000.0 * 2.0 - 1.0;
            s = x1 * x1 + x * x;
        }
        x2[n] = x;
        sq[n] = s;
        after[n] = aStream.position();
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
