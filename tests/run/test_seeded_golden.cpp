// A seeded run through the main loop, compared byte for byte with the result
// files it wrote when this test was made: three data sets (two periods), two
// batches per period, particles released over the whole grid (side columns
// and rows, the lowest layer below and above its node, the interior),
// obstacles and emitters in the lowest and in an upper layer, fields that
// change from one data set to the next, interval outputs with output data
// sets. Every file of the output folder, the progress lines and the state of
// the particles left in the list after the run are reduced to a SHA-256
// digest and a size and compared with tests/data/engine/golden/seeded_run.txt;
// the run is made on one and on two threads, with each variant of the
// particle step the processor runs.
//
// Only the clock's traces are masked before the digest: the revision date of
// the container header and the elapsed time in the run log.
//
// When a change of the results is intended, regenerate the manifest with
//   KWD_UPDATE_GOLDEN=1 test_run --gtest_filter='SeededGolden.*'
// and say why in the commit.

#include <gtest/gtest.h>
#include <omp.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/EngineFixtures.h"
#include "platform/DateTime.h"
#include "platform/FileIO.h"
#include "run/u_MainLoop.h"

using kwd::run::startCalculation;

using kwd::engine::stepVariantAvx2Available;
using kwd::engine::tDetector;
using kwd::engine::tParticle;
using kwd::engine::tParticleManager;
using kwd::engine::tPosGrid;

using kwd::dataset::TZDXFile;

namespace {

using kwd::test::tCellValues;

// ---- SHA-256 ------------------------------------------------------------------

class tSha256 {
public:
    static std::string hex(const std::string& data) {
        tSha256 h;
        h.update(reinterpret_cast<const uint8_t*>(data.data()), data.size());
        const std::array<uint8_t, 32> d = h.finish();
        static const char* digits = "0123456789abcdef";
        std::string out;
        for (uint8_t b : d) {
            out += digits[b >> 4];
            out += digits[b & 15];
        }
        return out;
    }

private:
    static uint32_t rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

    void block(const uint8_t* p) {
        static const uint32_t k[64] = {
            0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
            0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
            0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
            0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
            0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
            0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
            0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
            0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
            0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
            0xc67178f2};
        uint32_t w[64];
        for (int t = 0; t < 16; ++t)
            w[t] = uint32_t(p[4 * t]) << 24 | uint32_t(p[4 * t + 1]) << 16 |
                   uint32_t(p[4 * t + 2]) << 8 | uint32_t(p[4 * t + 3]);
        for (int t = 16; t < 64; ++t) {
            const uint32_t s0 = rotr(w[t - 15], 7) ^ rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
            const uint32_t s1 = rotr(w[t - 2], 17) ^ rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
            w[t] = w[t - 16] + s0 + w[t - 7] + s1;
        }
        uint32_t a = fH[0], b = fH[1], c = fH[2], d = fH[3], e = fH[4], f = fH[5], g = fH[6],
                 h = fH[7];
        for (int t = 0; t < 64; ++t) {
            const uint32_t t1 =
                h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + k[t] + w[t];
            const uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            h = g, g = f, f = e, e = d + t1, d = c, c = b, b = a, a = t1 + t2;
        }
        fH[0] += a, fH[1] += b, fH[2] += c, fH[3] += d, fH[4] += e, fH[5] += f, fH[6] += g,
            fH[7] += h;
    }

    void update(const uint8_t* p, size_t n) {
        fLength += n;
        while (n > 0) {
            const size_t take = std::min(n, size_t(64) - fFill);
            std::memcpy(fBuf + fFill, p, take);
            fFill += take, p += take, n -= take;
            if (fFill == 64) block(fBuf), fFill = 0;
        }
    }

    std::array<uint8_t, 32> finish() {
        const uint64_t bits = uint64_t(fLength) * 8;
        const uint8_t one = 0x80, zero = 0;
        update(&one, 1);
        while (fFill != 56) update(&zero, 1);
        for (int s = 56; s >= 0; s -= 8) {
            const uint8_t b = uint8_t(bits >> s);
            update(&b, 1);
        }
        std::array<uint8_t, 32> out{};
        for (int n = 0; n < 8; ++n)
            for (int b = 0; b < 4; ++b) out[size_t(4 * n + b)] = uint8_t(fH[n] >> (24 - 8 * b));
        return out;
    }

    uint32_t fH[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                      0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    uint8_t fBuf[64] = {};
    size_t fFill = 0;
    uint64_t fLength = 0;
};

TEST(SeededGolden, Sha256MatchesItsPublishedVectors) {
    EXPECT_EQ(tSha256::hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(tSha256::hex("abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(tSha256::hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

// ---- the run --------------------------------------------------------------------

// 16 x 14 x 8 cells of 4 x 4 x 1 m; data set n of three, 240 s apart. Light
// wind and moderate turbulence: many particles are still moving at the end.
tCellValues cellOf(int32_t n, int32_t i, int32_t j, int32_t k) {
    tCellValues c;
    const double fi = i, fj = j, fk = k, fn = n;
    // A building block (one cell stored with the code 2), emitting lawn and
    // water in the lowest layer, and an emitting cell in layer 1.
    if (i >= 6 && i <= 8 && j >= 5 && j <= 7 && k <= 2) c.obj = (i == 8 && j == 7 && k == 2) ? 2 : 1;
    if (k == 0 && i >= 10 && i <= 13 && j >= 2 && j <= 11) c.obj = 11;
    if (k == 0 && i >= 2 && i <= 3 && j >= 8 && j <= 11) c.obj = 12;
    if (k == 1 && i == 9 && j == 10) c.obj = 11;
    c.vapor = c.obj > 10 ? float(1.0 - 0.25 * fn) : 0.0f;
    c.u = float(0.06 + 0.01 * fk + 0.02 * fn + 0.03 * std::sin(0.5 * fi + 0.3 * fj));
    c.v = float(0.05 * std::cos(0.4 * fi) - 0.02 * fn + 0.005 * fk);
    c.w = float(0.02 * std::sin(0.7 * fj + fk) - 0.005 * fn);
    c.tke = float(0.04 + 0.004 * fk + 0.005 * fn + 0.005 * std::cos(fi * fj));
    c.eps = float(0.002 + 0.0002 * fk + 0.0001 * fn * std::sin(fi));
    if (c.obj == 1 || c.obj == 2) c.u = c.v = c.w = 0.0f, c.tke = 0.0f, c.eps = 0.0f;
    return c;
}

// Cells of 4 m with narrower and wider ones at the sides; layers of 1 m
// near the ground, thicker above: 64 x 56 x 19.5 m.
kwd::test::tTestGrid goldenGrid() {
    kwd::test::tTestGrid g = kwd::test::uniformGrid(16, 14, 8, 4.0f, 4.0f, 1.0f);
    g.dx.front() = 3.0f, g.dx.back() = 5.0f;
    g.dy.front() = 5.0f, g.dy.back() = 3.0f;
    g.dz = {1.0f, 1.0f, 1.0f, 1.5f, 2.0f, 3.0f, 4.0f, 6.0f};
    return g;
}

// Text that lets a digest see every bit of a double.
std::string hexOf(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    char buf[24];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(bits));
    return buf;
}

// Every field of every particle left in the list.
std::string particleState(const tParticleManager& e) {
    std::ostringstream out;
    out << "in target " << e.fTotalParticlesInTarget << " emitted " << e.fTotalEmittedParticles
        << " left " << e.fParticleList.size() << "\n";
    for (const tParticle& p : e.fParticleList) {
        const double values[] = {p.fStartTime,        p.fTargetPosMeter.x, p.fTargetPosMeter.y,
                                 p.fTargetPosMeter.z, p.fOriginPosMeter.x, p.fOriginPosMeter.y,
                                 p.fOriginPosMeter.z, p.fPosMeter.x,       p.fPosMeter.y,
                                 p.fPosMeter.z,       p.fTimeUntilHit,     p.fTravelDistance,
                                 p.fWEmitter,         p.fWDetector,        p.fdt,
                                 p.fdt_sum,           p.fAge,              p.fAge_m,
                                 p.frVar1,            p.frVar2,            p.frVar3,
                                 p.fRG_u,             p.fRG_v,             p.fRG_w,
                                 p.fRG_u_old,         p.fRG_v_old,         p.fRG_w_old,
                                 p.fe_m};
        for (double v : values) out << hexOf(v) << ' ';
        const tPosGrid cells[] = {p.fTargetPosGrid, p.fOriginPosGrid, p.fPosGrid};
        for (const tPosGrid& c : cells) out << c.i << ',' << c.j << ',' << c.k << ' ';
        out << p.fInModel << p.fMetTarget << p.fInObstacle << ' ' << p.fLoopIdx << ' '
            << p.fSerialNr << ' ' << p.fRandCounter << ' ' << p.fSubSteps << "\n";
    }
    return out.str();
}

// Masks what depends on the clock, not on the run.
std::string masked(const std::string& name, std::string text) {
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".ZDX") == 0)
        text = std::regex_replace(text, std::regex("<revisiondate>[^<\r\n]*</revisiondate>"),
                                  "<revisiondate>-</revisiondate>");
    if (name == "logFile.log")
        text = std::regex_replace(
            text, std::regex("[0-9]+ hour\\(s\\), [0-9]+ minute\\(s\\), [0-9]+ second\\(s\\) elapsed"),
            "- hour(s), - minute(s), - second(s) elapsed");
    return text;
}

// name -> "sha256 size"
using tManifest = std::map<std::string, std::string>;

std::string entry(const std::string& content) {
    return tSha256::hex(content) + " " + std::to_string(content.size());
}

struct tRun {
    tManifest manifest;
    std::string folder;  // the output folder, for a look when the digests differ
};

tRun seededRun(int threads, bool avx2, const std::string& inDir, const std::string& outDir) {
    std::vector<TZDXFile> list;
    const char* times[] = {"12:00:00", "12:04:00", "12:08:00"};
    for (int32_t n = 0; n < 3; ++n) {
        list.push_back(kwd::test::writeDataSet(
            inDir, "DS_" + std::to_string(n), goldenGrid(), "01.07.2018", times[n],
            kwd::test::flowVariables(
                [n](int32_t i, int32_t j, int32_t k) { return cellOf(n, i, j, k); }),
            23, "Golden"));
    }
    // The detector covers the whole ground plan and the lowest three layers.
    const tDetector detector = kwd::test::detectorBox(0.0, 64.0, 0.0, 56.0, 0.0, 3.0);
    tParticleManager e(true, detector, std::move(list), outDir, 0.05, 400, 200);
    e.fSeed = 20240917;
    e.fStepAvx2 = avx2;
    std::ostringstream progress;
    e.fProgressOut = &progress;

    const int saved = omp_get_max_threads();
    omp_set_num_threads(threads);
    const int64_t hits = startCalculation(e, 120, 60, true, kwd::nowLocal());
    omp_set_num_threads(saved);

    tRun run;
    run.folder = outDir;
    for (const std::string& path : kwd::listFiles(outDir)) {
        const std::string name = std::filesystem::path(path).filename().string();
        run.manifest["file " + name] = entry(masked(name, kwd::readWholeFile(path)));
    }
    run.manifest["progress lines"] = entry(progress.str());
    run.manifest["particles left"] = entry(particleState(e));
    run.manifest["hits"] = std::to_string(hits);
    return run;
}

std::string manifestText(const tManifest& m) {
    std::string text;
    for (const auto& [name, value] : m) text += value + " " + name + "\n";
    return text;
}

const std::string kManifestPath = std::string(KWD_TEST_DATA_DIR) + "/engine/golden/seeded_run.txt";

tManifest readManifest() {
    tManifest m;
    std::istringstream in(kwd::readWholeFile(kManifestPath));
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        // "<digest> <size> <name>" or "<hits> hits"
        const size_t a = line.find(' ');
        if (line.compare(a + 1, std::string::npos, "hits") == 0) {
            m["hits"] = line.substr(0, a);
            continue;
        }
        const size_t b = line.find(' ', a + 1);
        m[line.substr(b + 1)] = line.substr(0, b);
    }
    return m;
}

TEST(SeededGolden, ResultFilesMatchTheGoldenDigestsOnEveryVariant) {
    // One and two threads; the particle step's baseline variant and, where
    // the processor has AVX2, its AVX2 variant.
    struct tVariant {
        int threads;
        bool avx2;
        std::string name;
    };
    std::vector<tVariant> variants = {{1, false, "1 thread, baseline step"},
                                      {2, false, "2 threads, baseline step"}};
    if (stepVariantAvx2Available()) {
        variants.push_back({1, true, "1 thread, AVX2 step"});
        variants.push_back({2, true, "2 threads, AVX2 step"});
    }
    std::map<std::string, tRun> runs;
    std::vector<std::unique_ptr<kwd::test::tTempFolder>> folders;
    for (const tVariant& v : variants) {
        folders.push_back(std::make_unique<kwd::test::tTempFolder>("kwd_golden_in_"));
        const std::string in = folders.back()->path();
        folders.push_back(std::make_unique<kwd::test::tTempFolder>("kwd_golden_out_"));
        runs[v.name] = seededRun(v.threads, v.avx2, in, folders.back()->path());
    }
    const tManifest& one = runs.begin()->second.manifest;
    ASSERT_GT(one.size(), 10u) << manifestText(one);

    if (std::getenv("KWD_UPDATE_GOLDEN") != nullptr) {
        std::filesystem::create_directories(std::filesystem::path(kManifestPath).parent_path());
        kwd::writeWholeFile(kManifestPath,
                            "# SHA-256 and size of every result of the seeded run of "
                            "test_seeded_golden.cpp\n" +
                                manifestText(one));
        GTEST_SKIP() << "wrote " << kManifestPath;
    }

    const tManifest golden = readManifest();
    int kept = 0;
    for (const auto& [name, run] : runs) {
        SCOPED_TRACE(name);
        if (run.manifest == golden) continue;
        for (const auto& [item, value] : golden) {
            const auto it = run.manifest.find(item);
            if (it == run.manifest.end())
                ADD_FAILURE() << "missing: " << item;
            else if (it->second != value)
                ADD_FAILURE() << "differs: " << item << " (" << it->second << ", golden " << value
                              << ")";
        }
        for (const auto& [item, value] : run.manifest)
            if (!golden.count(item)) ADD_FAILURE() << "not in the golden data: " << item;
        // Keep the differing results for a look.
        const std::string keep = std::filesystem::temp_directory_path() /
                                 ("kwd_golden_actual_" + std::to_string(++kept));
        std::filesystem::remove_all(keep);
        std::filesystem::copy(run.folder, keep);
        ADD_FAILURE() << "results kept in " << keep;
    }
}

}  // namespace
