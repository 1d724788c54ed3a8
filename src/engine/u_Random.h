#pragma once
// Uniform random numbers of the engine. Every draw comes from a counter-based
// generator (Philox4x32-10) keyed by the run seed, the particle's serial
// number in the run and the purpose of the stream, so that a seeded run gives
// the same particles whatever the number of threads or the order in which
// they take the particles. A stream keeps only its position (the number of
// 32-bit words drawn); the particle stores it between calls.

#include <array>
#include <cstdint>
#include <string>

namespace kwd::engine {

// One Philox4x32 block with 10 rounds.
std::array<uint32_t, 4> philox4x32_10(std::array<uint32_t, 4> ctr, std::array<uint32_t, 2> key);

// What a stream of a particle is used for; each purpose is a stream of its own.
enum class tRandomPurpose : uint32_t {
    Velocity = 0,  // the Gaussian numbers of the particle step
    Release = 1    // the release position in the detector box
};

// Philox4x32-10 blocks first .. first + 7 of a stream whose counter words 2
// and 3 are ctr2 and ctr3 (words 0 and 1: the block number), with the round
// keys roundKeys[2 r], roundKeys[2 r + 1] of rounds r = 0 .. 9; block b's four
// words go to out[4 b .. 4 b + 3]. The same words as philox4x32_10, eight
// blocks side by side: in SSE2 registers, or in AVX2 registers where the
// processor has them.
void philox8Baseline(uint64_t first, uint32_t ctr2, uint32_t ctr3, const uint32_t* roundKeys,
                     uint32_t* out);
void philox8Avx2(uint64_t first, uint32_t ctr2, uint32_t ctr3, const uint32_t* roundKeys,
                 uint32_t* out);
using tPhilox8Fn = void (*)(uint64_t, uint32_t, uint32_t, const uint32_t*, uint32_t*);
// philox8Avx2 where the processor has AVX2, else philox8Baseline.
tPhilox8Fn philox8();

class tRandomStream {
public:
    tRandomStream(uint64_t aSeed, int64_t aSerialNr, tRandomPurpose aPurpose,
                  uint64_t aPosition = 0);

    // The next uniform 32-bit word: word p of the stream is word p % 4 of
    // the Philox block p / 4 (counter: block number, serial number, purpose).
    // Eight consecutive blocks are made at a time.
    uint32_t next32() {
        makeBuffered();
        return fBuffer[fPosition++ & 31u];
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
    // Goes back (or on) to word aPosition of the stream.
    void seek(uint64_t aPosition) { fPosition = aPosition; }

    // The next words of the stream as far as they are made already, to be
    // read without drawing them: how many there are (0 when the next word
    // needs new blocks; makeBuffered makes them) and where they start;
    // skip(n) then draws n of them. Up to 16 words past the buffered ones
    // may be read too (they are of no use).
    int bufferedWords() const {
        return (fPosition >> 5) == fGroup ? int(32u - uint32_t(fPosition & 31u)) : 0;
    }
    const uint32_t* bufferedAt() const { return fBuffer + (fPosition & 31u); }
    void skip(int n) { fPosition += uint64_t(n); }
    // Makes the blocks of the next word, unless they are made already.
    void makeBuffered() {
        if ((fPosition >> 5) != fGroup) refill();
    }

private:
    // Blocks 8 g .. 8 g + 7 of the stream, g = position / 32.
    void refill() {
        fGroup = fPosition >> 5;
        fPhilox8(fGroup << 3, fCtr2, fCtr3, fRoundKeys, fBuffer);
    }

    uint32_t fRoundKeys[20] = {};  // the key of each round
    uint32_t fCtr2 = 0;  // serial number, low word
    uint32_t fCtr3 = 0;  // serial number, high word, purpose in the top bit
    uint64_t fPosition = 0;
    uint64_t fGroup = ~uint64_t(0);  // the group of 32 words in fBuffer; none at first
    tPhilox8Fn fPhilox8 = nullptr;
    alignas(32) uint32_t fBuffer[32 + 16] = {};  // the group, and room to read past it
};

// The seed of a run: the decimal integer in the environment variable
// KWD_SEED when it is set, otherwise a value from the clock (every run
// differs). A KWD_SEED that is not a decimal integer raises
// kwd::ConversionError.
uint64_t runSeed();
// A seed as KWD_SEED gives it: a decimal integer with an optional sign,
// nothing else; a negative value counts modulo 2^64. False for other text.
bool tryParseSeed(const std::string& aText, uint64_t& aSeed);

}  // namespace kwd::engine
