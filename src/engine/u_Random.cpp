#include "engine/u_Random.h"

#include <immintrin.h>

#include <charconv>
#include <chrono>
#include <cstdlib>
#include <string>

#include "platform/KwdError.h"

namespace kwd::engine {

namespace {

constexpr uint32_t kPhiloxM0 = 0xD2511F53u;
constexpr uint32_t kPhiloxM1 = 0xCD9E8D57u;
constexpr uint32_t kPhiloxW0 = 0x9E3779B9u;  // golden ratio
constexpr uint32_t kPhiloxW1 = 0xBB67AE85u;  // sqrt(3) - 1

inline void mulhilo(uint32_t a, uint32_t b, uint32_t& hi, uint32_t& lo) {
    const uint64_t product = uint64_t(a) * uint64_t(b);
    hi = uint32_t(product >> 32);
    lo = uint32_t(product);
}

// Mixes the bits of a clock reading into a seed.
uint64_t splitmix64(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

}  // namespace

std::array<uint32_t, 4> philox4x32_10(std::array<uint32_t, 4> ctr, std::array<uint32_t, 2> key) {
    for (int round = 0; round < 10; ++round) {
        if (round > 0) {
            key[0] += kPhiloxW0;
            key[1] += kPhiloxW1;
        }
        uint32_t hi0, lo0, hi1, lo1;
        mulhilo(kPhiloxM0, ctr[0], hi0, lo0);
        mulhilo(kPhiloxM1, ctr[2], hi1, lo1);
        ctr = {hi1 ^ ctr[1] ^ key[0], lo1, hi0 ^ ctr[3] ^ key[1], lo0};
    }
    return ctr;
}

tRandomStream::tRandomStream(uint64_t aSeed, int64_t aSerialNr, tRandomPurpose aPurpose,
                             uint64_t aPosition)
    : fCtr2(uint32_t(uint64_t(aSerialNr))),
      fCtr3((uint32_t(uint64_t(aSerialNr) >> 32) & 0x7FFFFFFFu) |
            (uint32_t(aPurpose) << 31)),
      fPosition(aPosition),
      fPhilox8(philox8()) {
    uint32_t k0 = uint32_t(aSeed), k1 = uint32_t(aSeed >> 32);
    for (int round = 0; round < 10; ++round) {
        if (round > 0) {
            k0 += kPhiloxW0;
            k1 += kPhiloxW1;
        }
        fRoundKeys[2 * round] = k0;
        fRoundKeys[2 * round + 1] = k1;
    }
}

namespace {

// One round on four blocks, lane b of each register holding block b's
// counter word: (c0, c1, c2, c3) := (hi(M1 c2) ^ c1 ^ k0, lo(M1 c2),
// hi(M0 c0) ^ c3 ^ k1, lo(M0 c0)).
inline void roundSse2(__m128i& c0, __m128i& c1, __m128i& c2, __m128i& c3, uint32_t k0,
                      uint32_t k1) {
    const __m128i m0 = _mm_set1_epi32(int(kPhiloxM0)), m1 = _mm_set1_epi32(int(kPhiloxM1));
    const __m128i lowWords = _mm_set_epi32(0, -1, 0, -1), highWords = _mm_set_epi32(-1, 0, -1, 0);
    const __m128i e0 = _mm_mul_epu32(c0, m0), o0 = _mm_mul_epu32(_mm_srli_epi64(c0, 32), m0);
    const __m128i e1 = _mm_mul_epu32(c2, m1), o1 = _mm_mul_epu32(_mm_srli_epi64(c2, 32), m1);
    const __m128i hi0 = _mm_or_si128(_mm_srli_epi64(e0, 32), _mm_and_si128(o0, highWords));
    const __m128i lo0 = _mm_or_si128(_mm_and_si128(e0, lowWords), _mm_slli_epi64(o0, 32));
    const __m128i hi1 = _mm_or_si128(_mm_srli_epi64(e1, 32), _mm_and_si128(o1, highWords));
    const __m128i lo1 = _mm_or_si128(_mm_and_si128(e1, lowWords), _mm_slli_epi64(o1, 32));
    c0 = _mm_xor_si128(_mm_xor_si128(hi1, c1), _mm_set1_epi32(int(k0)));
    c1 = lo1;
    c2 = _mm_xor_si128(_mm_xor_si128(hi0, c3), _mm_set1_epi32(int(k1)));
    c3 = lo0;
}

// The four words of blocks b = 0 .. 3 (lane b of c0 .. c3) to out[4 b ..].
inline void storeSse2(__m128i c0, __m128i c1, __m128i c2, __m128i c3, uint32_t* out) {
    const __m128i t0 = _mm_unpacklo_epi32(c0, c1), t1 = _mm_unpacklo_epi32(c2, c3);
    const __m128i t2 = _mm_unpackhi_epi32(c0, c1), t3 = _mm_unpackhi_epi32(c2, c3);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 0), _mm_unpacklo_epi64(t0, t1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4), _mm_unpackhi_epi64(t0, t1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpacklo_epi64(t2, t3));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 12), _mm_unpackhi_epi64(t2, t3));
}

__m128i blockWords(uint64_t first, int shift) {
    return _mm_set_epi32(int(uint32_t((first + 3) >> shift)), int(uint32_t((first + 2) >> shift)),
                         int(uint32_t((first + 1) >> shift)), int(uint32_t(first >> shift)));
}

}  // namespace

void philox8Baseline(uint64_t first, uint32_t ctr2, uint32_t ctr3, const uint32_t* roundKeys,
                     uint32_t* out) {
    __m128i a0 = blockWords(first, 0), a1 = blockWords(first, 32);
    __m128i b0 = blockWords(first + 4, 0), b1 = blockWords(first + 4, 32);
    __m128i a2 = _mm_set1_epi32(int(ctr2)), a3 = _mm_set1_epi32(int(ctr3)), b2 = a2, b3 = a3;
#pragma GCC unroll 10
    for (int round = 0; round < 10; ++round) {
        roundSse2(a0, a1, a2, a3, roundKeys[2 * round], roundKeys[2 * round + 1]);
        roundSse2(b0, b1, b2, b3, roundKeys[2 * round], roundKeys[2 * round + 1]);
    }
    storeSse2(a0, a1, a2, a3, out);
    storeSse2(b0, b1, b2, b3, out + 16);
}

__attribute__((target("avx2"))) void philox8Avx2(uint64_t first, uint32_t ctr2, uint32_t ctr3,
                                                 const uint32_t* roundKeys, uint32_t* out) {
    const __m256i m0 = _mm256_set1_epi32(int(kPhiloxM0)), m1 = _mm256_set1_epi32(int(kPhiloxM1));
    alignas(32) uint32_t lo[8], hi[8];
    for (int b = 0; b < 8; ++b) {
        lo[b] = uint32_t(first + uint64_t(b));
        hi[b] = uint32_t((first + uint64_t(b)) >> 32);
    }
    __m256i c0 = _mm256_load_si256(reinterpret_cast<const __m256i*>(lo));
    __m256i c1 = _mm256_load_si256(reinterpret_cast<const __m256i*>(hi));
    __m256i c2 = _mm256_set1_epi32(int(ctr2)), c3 = _mm256_set1_epi32(int(ctr3));
#pragma GCC unroll 10
    for (int round = 0; round < 10; ++round) {
        const __m256i e0 = _mm256_mul_epu32(c0, m0);
        const __m256i o0 = _mm256_mul_epu32(_mm256_srli_epi64(c0, 32), m0);
        const __m256i e1 = _mm256_mul_epu32(c2, m1);
        const __m256i o1 = _mm256_mul_epu32(_mm256_srli_epi64(c2, 32), m1);
        // High and low halves of the products back in the blocks' lanes.
        const __m256i hi0 = _mm256_blend_epi32(_mm256_srli_epi64(e0, 32), o0, 0xAA);
        const __m256i lo0 = _mm256_blend_epi32(e0, _mm256_slli_epi64(o0, 32), 0xAA);
        const __m256i hi1 = _mm256_blend_epi32(_mm256_srli_epi64(e1, 32), o1, 0xAA);
        const __m256i lo1 = _mm256_blend_epi32(e1, _mm256_slli_epi64(o1, 32), 0xAA);
        c0 = _mm256_xor_si256(_mm256_xor_si256(hi1, c1), _mm256_set1_epi32(int(roundKeys[2 * round])));
        c1 = lo1;
        c2 = _mm256_xor_si256(_mm256_xor_si256(hi0, c3),
                              _mm256_set1_epi32(int(roundKeys[2 * round + 1])));
        c3 = lo0;
    }
    const __m256i t0 = _mm256_unpacklo_epi32(c0, c1), t1 = _mm256_unpacklo_epi32(c2, c3);
    const __m256i t2 = _mm256_unpackhi_epi32(c0, c1), t3 = _mm256_unpackhi_epi32(c2, c3);
    const __m256i u0 = _mm256_unpacklo_epi64(t0, t1);  // blocks 0 | 4
    const __m256i u1 = _mm256_unpackhi_epi64(t0, t1);  // blocks 1 | 5
    const __m256i u2 = _mm256_unpacklo_epi64(t2, t3);  // blocks 2 | 6
    const __m256i u3 = _mm256_unpackhi_epi64(t2, t3);  // blocks 3 | 7
    __m256i* dst = reinterpret_cast<__m256i*>(out);
    _mm256_storeu_si256(dst + 0, _mm256_permute2x128_si256(u0, u1, 0x20));
    _mm256_storeu_si256(dst + 1, _mm256_permute2x128_si256(u2, u3, 0x20));
    _mm256_storeu_si256(dst + 2, _mm256_permute2x128_si256(u0, u1, 0x31));
    _mm256_storeu_si256(dst + 3, _mm256_permute2x128_si256(u2, u3, 0x31));
}

tPhilox8Fn philox8() {
    static const tPhilox8Fn chosen =
        __builtin_cpu_supports("avx2") ? philox8Avx2 : philox8Baseline;
    return chosen;
}

bool tryParseSeed(const std::string& aText, uint64_t& aSeed) {
    const char* first = aText.data();
    const char* last = aText.data() + aText.size();
    bool negative = false;
    if (first != last && (*first == '+' || *first == '-')) {
        negative = *first == '-';
        ++first;
    }
    uint64_t magnitude = 0;
    const auto res = std::from_chars(first, last, magnitude);
    const bool digitsOnly = first != last && *first >= '0' && *first <= '9';
    if (!digitsOnly || res.ec != std::errc() || res.ptr != last ||
        (negative && magnitude > uint64_t(1) << 63))
        return false;
    aSeed = negative ? uint64_t(0) - magnitude : magnitude;
    return true;
}

uint64_t runSeed() {
    if (const char* text = std::getenv("KWD_SEED")) {
        const std::string value(text);
        uint64_t seed = 0;
        if (!tryParseSeed(value, seed)) {
            throw kwd::ConversionError("the environment variable KWD_SEED (\"" + value +
                                       "\") is not a decimal integer");
        }
        return seed;
    }
    const uint64_t wall = uint64_t(std::chrono::system_clock::now().time_since_epoch().count());
    const uint64_t mono = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
    return splitmix64(wall ^ splitmix64(mono));
}

}  // namespace kwd::engine
