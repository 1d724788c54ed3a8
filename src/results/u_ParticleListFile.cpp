// The particle list file: one line per particle that met its target,
// appended to the file of the current simulated date-time; and the touchdown
// list of the touchdown model, in the same columns, one line per touchdown.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/u_tParticleManager.h"
#include "platform/DateTime.h"
#include "platform/FileIO.h"
#include "platform/KwdError.h"
#include "platform/ParallelChunks.h"
#include "platform/RegionalSettings.h"
#include "results/u_EngineOutputs.h"
#include "results/u_ResultText.h"

namespace kwd::results {

using kwd::engine::tParticle;
using kwd::engine::tParticleManager;
using kwd::engine::tTouchdownRecord;

namespace {

const char* const kParticleListHeader =
    "ParticleNr;OriginI;OriginJ;OriginK;OriginX;OriginY;OriginZ;TravelDistance[m];"
    "TimeElapsed[s];MeanVelocity[m/s];w_TakeOff;w_Detector;DetecDivTakeOff;TargetI;TargetJ;"
    "TargetK;TargetX;TargetY;TargetZ";

// A call's rows are formatted and written a block of particles (or
// touchdowns) at a time, so that a list of millions of rows needs no buffer
// of its full size. On one thread a block's text (a few hundred kilobytes)
// is still in the cache when it is written; on several, larger blocks hand
// the write on from worker to worker less often (a worker that waits for its
// turn loses most where the cores are shared).
constexpr int64_t kRowsPerBlockOneThread = 4096;
constexpr int64_t kRowsPerBlock = 16384;

void appendRow(std::string& out, int64_t nr, const tParticle& p) {
    const int64_t elapsed = kwd::secondsBetween(p.fStartTime, p.fTimeUntilHit);
    const double meanVelocity = elapsed > 0 ? p.fTravelDistance / double(elapsed) : 0.0;
    appendIntegerText(out, nr);
    out += ';';
    appendIntegerText(out, p.fOriginPosGrid.i);
    out += ';';
    appendIntegerText(out, p.fOriginPosGrid.j);
    out += ';';
    appendIntegerText(out, p.fOriginPosGrid.k);
    out += ';';
    appendNumberText(out, p.fOriginPosMeter.x);
    out += ';';
    appendNumberText(out, p.fOriginPosMeter.y);
    out += ';';
    appendNumberText(out, p.fOriginPosMeter.z);
    out += ';';
    appendNumberText(out, p.fTravelDistance);
    out += ';';
    appendIntegerText(out, elapsed);
    out += ';';
    appendNumberText(out, meanVelocity);
    out += ';';
    appendNumberText(out, p.fWEmitter);
    out += ';';
    appendNumberText(out, p.fWDetector);
    out += ';';
    appendNumberText(out, p.fWDetector / p.fWEmitter);
    out += ';';
    appendIntegerText(out, p.fTargetPosGrid.i);
    out += ';';
    appendIntegerText(out, p.fTargetPosGrid.j);
    out += ';';
    appendIntegerText(out, p.fTargetPosGrid.k);
    out += ';';
    appendNumberText(out, p.fTargetPosMeter.x);
    out += ';';
    appendNumberText(out, p.fTargetPosMeter.y);
    out += ';';
    appendNumberText(out, p.fTargetPosMeter.z);
    // The number text never holds a ",", so the lines need no replacement.
    out += "\r\n";
}

// One call's appending to a list file, opened once: a file that is new or
// empty gets the header line first, so a list that several calls extend
// keeps one header; whole lines follow as they are handed in. A write that
// fails (a full disk, a file size limit) leaves every complete line in the
// file, the earlier contents included, and cuts off the piece of a line it
// had begun, so the list never ends in a broken row.
class tListAppender {
public:
    explicit tListAppender(const std::string& path) : fPath(path) {
        fFd = kwd::openResultFile(path, O_WRONLY | O_CREAT | O_APPEND,
                                  "cannot open file for appending");
        struct stat st{};
        fStart = ::fstat(fFd, &st) == 0 ? st.st_size : off_t(-1);
        if (fStart == 0) {
            static const std::string kHeaderLine = std::string(kParticleListHeader) + "\r\n";
            try {
                append(kHeaderLine);
            } catch (...) {
                (void)::close(fFd);
                throw;
            }
        }
    }
    ~tListAppender() {
        if (fFd >= 0) (void)::close(fFd);
    }
    tListAppender(const tListAppender&) = delete;
    tListAppender& operator=(const tListAppender&) = delete;

    // Whole lines.
    void append(std::string_view lines) {
        size_t done = 0;
        while (done < lines.size()) {
            const ssize_t n = ::write(fFd, lines.data() + done, lines.size() - done);
            if (n < 0) {
                if (errno == EINTR) continue;
                fail(errno, lines.substr(0, done));
            }
            done += size_t(n);
        }
        fWritten += lines.size();
    }
    void close() {
        const int fd = fFd;
        fFd = -1;
        if (::close(fd) != 0) throw writeError(errno);
    }

private:
    [[noreturn]] void fail(int err, std::string_view written) {
        if (fStart >= 0) {
            const size_t lineEnd = written.rfind('\n');
            const size_t keep = lineEnd == std::string_view::npos ? 0 : lineEnd + 1;
            if (keep < written.size())
                (void)::ftruncate(fFd, fStart + off_t(fWritten) + off_t(keep));
        }
        throw writeError(err);
    }
    kwd::FileError writeError(int err) const {
        return kwd::FileError("cannot write file \"" + fPath + "\": " + kwd::systemReason(err));
    }

    std::string fPath;
    int fFd = -1;
    off_t fStart = 0;     // size of the file when it was opened; -1: unknown
    size_t fWritten = 0;  // bytes of whole lines appended since
};

// A worker's text of a block, kept from one list to the next: a block is a
// few megabytes of text, whose fresh pages would otherwise be faulted again
// for every list (on some hosts that costs as much as the formatting).
struct tBlockText {
    std::string& text = threadText();

    static std::string& threadText() {
        thread_local std::string text;
        return text;
    }
};

// Appends the rows of items [0, count) to the file in item order:
// appendItem(out, n) appends the row of item n to `out`, or nothing. The
// blocks are formatted on the workers, each worker a block at a time, and
// written in block order as they are ready, so that the workers format the
// next blocks while one writes. The file is created (with its header) also
// when there is no row. A block whose rows fail is not written, nor any
// after it; the blocks before it are.
template <typename F>
void appendRowsInOrder(const std::string& path, int64_t count, F appendItem) {
    tListAppender file(path);
    const int threads = kwd::chunkCount(count, kRowsPerBlock);
    const int64_t rows = threads == 1 ? kRowsPerBlockOneThread : kRowsPerBlock;
    kwd::forEachBlockInOrder<tBlockText>(
        (count + rows - 1) / rows, threads,
        [&](tBlockText& out, int64_t block) {
            out.text.clear();
            const int64_t end = std::min(count, (block + 1) * rows);
            for (int64_t n = block * rows; n < end; ++n) appendItem(out.text, n);
        },
        [&](const tBlockText& out, int64_t) { file.append(out.text); });
    file.close();
}

}  // namespace

void saveCurrentParticlesInTargetToFile(const tParticleManager& e) {
    const std::string path =
        resultFilePath(e.fOutputDir, "ParticleList_" +
                                         kwd::regional::fileNameTimeText(e.fActSimTime) + "_" +
                                         e.fCurrZDXFile->projectname + ".csv");
    appendRowsInOrder(path, int64_t(e.fParticleList.size()), [&e](std::string& out, int64_t n) {
        const tParticle& p = e.fParticleList[size_t(n)];
        if (p.fMetTarget) appendRow(out, n, p);
    });
}

void saveTouchdownList(tParticleManager& e) {
    std::vector<tTouchdownRecord>& records = e.fTouchdowns.records;
    const double periodStart = tParticleManager::getModelTime(*e.fCurrZDXFile);
    const std::string path = resultFilePath(
        e.fOutputDir, "TouchdownList_" + kwd::regional::fileNameTimeText(periodStart) + "_" +
                          e.fCurrZDXFile->projectname + ".csv");
    appendRowsInOrder(path, int64_t(records.size()), [&e, &records](std::string& out, int64_t n) {
        const tTouchdownRecord& r = records[size_t(n)];
        if (r.listIndex < 0 || size_t(r.listIndex) >= e.fParticleList.size())
            throw kwd::GeneralError("touchdown of particle " + std::to_string(r.listIndex) +
                                    ", which is not in the particle list of " +
                                    std::to_string(e.fParticleList.size()));
        // The particle as it was at the touchdown: the touchdown is its target.
        tParticle p = e.fParticleList[size_t(r.listIndex)];
        p.fTargetPosGrid = r.cell;
        p.fTargetPosMeter = r.pos;
        p.fWEmitter = r.wTouchdown;
        p.fTravelDistance = r.travel;
        p.fTimeUntilHit = r.clock;
        appendRow(out, p.fSerialNr, p);
    });
    records.clear();
}

}  // namespace kwd::results
