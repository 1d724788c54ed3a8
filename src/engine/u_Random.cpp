#include "engine/u_Random.h"

#include <charconv>
#include <chrono>
#include <cstdlib>
#include <string>

#include "platform/KwdError.h"

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
    : fKey{uint32_t(aSeed), uint32_t(aSeed >> 32)},
      fCtr2(uint32_t(uint64_t(aSerialNr))),
      fCtr3((uint32_t(uint64_t(aSerialNr) >> 32) & 0x7FFFFFFFu) |
            (uint32_t(aPurpose) << 31)),
      fPosition(aPosition) {}

void tRandomStream::refill() {
    const uint64_t block = fPosition >> 2;
    fBuffer = philox4x32_10({uint32_t(block), uint32_t(block >> 32), fCtr2, fCtr3}, fKey);
    fBufferValid = true;
}

uint64_t runSeed() {
    if (const char* text = std::getenv("KWD_SEED")) {
        const std::string value(text);
        const char* first = value.data();
        const char* last = value.data() + value.size();
        bool negative = false;
        if (first != last && (*first == '+' || *first == '-')) {
            negative = *first == '-';
            ++first;
        }
        uint64_t magnitude = 0;
        const auto res = std::from_chars(first, last, magnitude);
        const bool digitsOnly = first != last && *first >= '0' && *first <= '9';
        if (!digitsOnly || res.ec != std::errc() || res.ptr != last ||
            (negative && magnitude > uint64_t(1) << 63)) {
            throw kwd::ConversionError("the environment variable KWD_SEED (\"" + value +
                                       "\") is not a decimal integer");
        }
        return negative ? uint64_t(0) - magnitude : magnitude;
    }
    const uint64_t wall = uint64_t(std::chrono::system_clock::now().time_since_epoch().count());
    const uint64_t mono = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
    return splitmix64(wall ^ splitmix64(mono));
}
