#pragma once
// Uniform random numbers of the engine. Every draw comes from a counter-based
// generator (Philox4x32-10) keyed by the run seed, the particle's serial
// number in the run and the purpose of the stream, so that a seeded run gives
// the same particles whatever the number of threads or the order in which
// they take the particles. A stream keeps only its position (the number of
// 32-bit words drawn); the particle stores it between calls.

#include <array>
#include <cstdint>

// One Philox4x32 block with 10 rounds.
std::array<uint32_t, 4> philox4x32_10(std::array<uint32_t, 4> ctr, std::array<uint32_t, 2> key);

// What a stream of a particle is used for; each purpose is a stream of its own.
enum class tRandomPurpose : uint32_t {
    Velocity = 0,  // the Gaussian numbers of the particle step
    Release = 1    // the release position in the detector box
};

class tRandomStream {
public:
    tRandomStream(uint64_t aSeed, int64_t aSerialNr, tRandomPurpose aPurpose,
                  uint64_t aPosition = 0);

    // The next uniform 32-bit word.
    uint32_t next32() {
        const uint32_t lane = uint32_t(fPosition & 3u);
        if (lane == 0 || !fBufferValid) refill();
        ++fPosition;
        return fBuffer[lane];
    }

    // A uniform integer over [0, n), n > 0, without modulo bias (multiply
    // and shift with rejection of the short remainder).
    uint32_t Random(uint32_t n) {
        uint64_t m = uint64_t(next32()) * n;
        uint32_t low = uint32_t(m);
        if (low < n) {
            const uint32_t threshold = (0u - n) % n;
            while (low < threshold) {
                m = uint64_t(next32()) * n;
                low = uint32_t(m);
            }
        }
        return uint32_t(m >> 32);
    }

    // Number of 32-bit words drawn from the stream so far.
    uint64_t position() const { return fPosition; }

private:
    void refill();

    std::array<uint32_t, 2> fKey{};
    uint32_t fCtr2 = 0;  // serial number, low word
    uint32_t fCtr3 = 0;  // serial number, high word, purpose in the top bit
    uint64_t fPosition = 0;
    bool fBufferValid = false;
    std::array<uint32_t, 4> fBuffer{};
};

// The seed of a run: the decimal integer in the environment variable
// KWD_SEED when it is set, otherwise a value from the clock (every run
// differs). A KWD_SEED that is not a decimal integer raises
// kwd::ConversionError.
uint64_t runSeed();
