#pragma once
// The operations of the particle step whose vector width differs between its
// two variants, as policy structs: tIsaBaseline (x86-64 baseline, SSE2) and
// tIsaAvx2. Both do the same floating-point operations in the same order;
// only how many go side by side differs.

#include <immintrin.h>

#include <cstdint>
#include <cstring>

namespace kwd::engine {

#define KWD_ALWAYS_INLINE inline __attribute__((always_inline))

namespace kwdstep {

constexpr double kNodeDistance = 1e-5;  // m, the distance of a position at a node itself

typedef double tV4 __attribute__((vector_size(32)));
// Vector values are passed by reference and never returned: without AVX a
// function returning a 32-byte vector would have another calling convention.

// The squared distance of neighbour n = (a * 3 + b) * 3 + l (n < 27) from
// the x-y parts dxy[a * 3 + b] and the z parts dz2[l]; 1 for n = 27.
KWD_ALWAYS_INLINE double squaredDistance(const double* dxy, const double* dz2, int n) {
    return n < 27 ? dxy[n / 3] + dz2[n % 3] : 1.0;
}

// The operations whose vector width differs between the two variants:
// weights(dxy, dz2, w): w[n] = 1 / (q == 0 ? kNodeDistance : sqrt(q)) for n < 28, q the
// squared distance of neighbour n (w 32-byte aligned); the distances go into
// the registers as they are made (stored one by one and loaded as a vector
// they would wait for the stores);
// sqrt4(x): the square roots of x[0..3] (32-byte aligned);
// tLanes, sqrtLanes(x, r) (AVX2 only): the register of the particles side
// by side and the square roots of its lanes.
struct tIsaBaseline {
    static void weights(const double* dxy, const double* dz2, double* w) {
        const __m128d zero = _mm_setzero_pd(), one = _mm_set1_pd(1.0),
                      node = _mm_set1_pd(kNodeDistance);
#pragma GCC unroll 14
        for (int n = 0; n < 28; n += 2) {
            const __m128d x =
                _mm_set_pd(squaredDistance(dxy, dz2, n + 1), squaredDistance(dxy, dz2, n));
            const __m128d r = _mm_sqrt_pd(x);
            const __m128d atNode = _mm_cmpeq_pd(x, zero);
            const __m128d d = _mm_or_pd(_mm_and_pd(atNode, node), _mm_andnot_pd(atNode, r));
            _mm_store_pd(w + n, _mm_div_pd(one, d));
        }
    }
    static void sqrt4(double* x) {
        _mm_store_pd(x, _mm_sqrt_pd(_mm_load_pd(x)));
        _mm_store_pd(x + 2, _mm_sqrt_pd(_mm_load_pd(x + 2)));
    }
};

struct tIsaAvx2 {
    using tLanes = tV4;
    __attribute__((target("avx2"))) static void sqrtLanes(const tV4& x, tV4& r) {
        r = tV4(_mm256_sqrt_pd(__m256d(x)));
    }
    __attribute__((target("avx2"))) static void weights(const double* dxy, const double* dz2,
                                                        double* w) {
        const __m256d zero = _mm256_setzero_pd(), one = _mm256_set1_pd(1.0),
                      node = _mm256_set1_pd(kNodeDistance);
#pragma GCC unroll 7
        for (int n = 0; n < 28; n += 4) {
            const __m256d x = _mm256_set_pd(
                squaredDistance(dxy, dz2, n + 3), squaredDistance(dxy, dz2, n + 2),
                squaredDistance(dxy, dz2, n + 1), squaredDistance(dxy, dz2, n));
            const __m256d r = _mm256_sqrt_pd(x);
            const __m256d atNode = _mm256_cmp_pd(x, zero, _CMP_EQ_OQ);
            _mm256_store_pd(w + n, _mm256_div_pd(one, _mm256_blendv_pd(r, node, atNode)));
        }
    }
    __attribute__((target("avx2"))) static void sqrt4(double* x) {
        _mm256_store_pd(x, _mm256_sqrt_pd(_mm256_load_pd(x)));
    }
    // The four pairs of 32-bit words words[0 .. 8) as the polar method takes
    // them: of each word Random(10^8) makes a = the high half of word x 10^8
    // and then a / 10^8 x 2 - 1, unless the low half is below turnDown (then
    // Random would draw another word: the pair's bit in turnedDown); x1 and
    // x2 are the pair's numbers, s = x1^2 + x2^2, and the bits of accepted
    // the pairs with s in (0, 1).
    __attribute__((target("avx2"))) static void pairs4(const uint32_t* words, uint32_t turnDown,
                                                       tV4& x2, tV4& s, unsigned& accepted,
                                                       unsigned& turnedDown) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words));
        const __m256i range = _mm256_set1_epi64x(100000000);
        const __m256i m1 = _mm256_mul_epu32(v, range);
        const __m256i m2 = _mm256_mul_epu32(_mm256_srli_epi64(v, 32), range);
        // Low halves below turnDown, as signed numbers with their top bits flipped.
        const __m256i flip = _mm256_set1_epi64x(0x80000000);
        const __m256i limit = _mm256_set1_epi64x(int64_t(turnDown ^ 0x80000000u));
        const __m256i low = _mm256_or_si256(_mm256_cmpgt_epi32(limit, _mm256_xor_si256(m1, flip)),
                                            _mm256_cmpgt_epi32(limit, _mm256_xor_si256(m2, flip)));
        turnedDown = unsigned(_mm256_movemask_pd(_mm256_castsi256_pd(_mm256_slli_epi64(low, 32))));
        // The high halves (below 10^8) as doubles: in the mantissa of 2^52.
        const __m256i twoTo52 = _mm256_set1_epi64x(0x4330000000000000);
        const tV4 offset = {0x1p52, 0x1p52, 0x1p52, 0x1p52};
        const __m256i h1 = _mm256_or_si256(_mm256_srli_epi64(m1, 32), twoTo52);
        const __m256i h2 = _mm256_or_si256(_mm256_srli_epi64(m2, 32), twoTo52);
        const tV4 a = tV4(_mm256_castsi256_pd(h1)) - offset;
        const tV4 b = tV4(_mm256_castsi256_pd(h2)) - offset;
        const tV4 x1 = a / 100000000.0 * 2.0 - 1.0;
        x2 = b / 100000000.0 * 2.0 - 1.0;
        s = x1 * x1 + x2 * x2;
        accepted = unsigned(_mm256_movemask_pd(__m256d((s < 1.0) & (s != 0.0))));
    }
};

KWD_ALWAYS_INLINE void load4(tV4& v, const double* p) { std::memcpy(&v, p, sizeof v); }

}  // namespace kwdstep

}  // namespace kwd::engine
