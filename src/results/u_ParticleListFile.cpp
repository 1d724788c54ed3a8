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

// A call's rows are formatted and written a window of this many particles
// (or touchdowns) at a time, about 32 MB of text at most, so that a list of
// millions of rows needs no buffer of its full size.
constexpr int64_t kRowWindow = int64_t(1) << 17;

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

// Appends whole lines to the file (created when missing) and closes it; a
// file that is new or empty gets the header line first, so a list that
// several calls extend keeps one header. A write that fails (a full disk, a
// file size limit) leaves every complete line in the file, the earlier
// contents included, and cuts off the piece of a line it had begun, so the
// list never ends in a broken row.
void appendLines(const std::string& path, std::string_view text) {
    static const std::string kHeaderLine = std::string(kParticleListHeader) + "\r\n";
    const int fd = kwd::openResultFile(path, O_WRONLY | O_CREAT | O_APPEND, "cannot open file for appending");
    if (fd < 0)
        throw kwd::FileError("cannot open file for appending \"" + path +
                             "\": " + kwd::systemReason(errno));
    struct stat st{};
    const off_t start = ::fstat(fd, &st) == 0 ? st.st_size : off_t(-1);
    std::string withHeader;
    if (start == 0) {
        withHeader = kHeaderLine;
        withHeader += text;
        text = withHeader;
    }
    size_t done = 0;
    int err = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            err = errno;
            break;
        }
        done += size_t(n);
    }
    if (err != 0 && start >= 0) {
        const size_t lineEnd = text.substr(0, done).rfind('\n');
        const size_t keep = lineEnd == std::string_view::npos ? 0 : lineEnd + 1;
        if (keep < done) (void)::ftruncate(fd, start + off_t(keep));
    }
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err != 0)
        throw kwd::FileError("cannot write file \"" + path + "\": " + kwd::systemReason(err));
}

// Appends the rows of items [0, count) to the file in item order:
// appendItem(out, n) appends the row of item n to `out`, or nothing. The
// rows of a window are formatted on the workers, a chunk of it each, and
// written chunk by chunk; the file is created (with its header) also when
// there is no row.
template <typename F>
void appendRowsInOrder(const std::string& path, int64_t count, F appendItem) {
    std::vector<std::string> texts;
    for (int64_t window = 0; window < count; window += kRowWindow) {
        const int64_t size = std::min(kRowWindow, count - window);
        const int chunks = kwd::chunkCount(size, 4096);
        texts.resize(size_t(chunks));
        kwd::forEachChunk(size, chunks, [&](int c, int64_t begin, int64_t end) {
            // Filled apart and moved back: the slots share cache lines.
            std::string out = std::move(texts[size_t(c)]);
            out.clear();
            for (int64_t n = window + begin; n < window + end; ++n) appendItem(out, n);
            texts[size_t(c)] = std::move(out);
        });
        for (const std::string& text : texts)
            if (!text.empty()) appendLines(path, text);
    }
    appendLines(path, {});
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
