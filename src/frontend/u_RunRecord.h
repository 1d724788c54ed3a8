#pragma once
// The run record "run.json" in the output folder: which program, command and
// settings made the results in it. The run start writes it before the main
// loop starts (state "running") and completes it at the end: "finished" with
// the totals, "failed" with the error line, or "interrupted" (SIGINT,
// SIGTERM) with its line. A run that was killed otherwise leaves "running". The seed in it is the one the run used: given again
// (--seed, or KWD_SEED), the same inputs give the same files.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/u_tParticle.h"
#include "platform/DateTime.h"

namespace kwd::frontend {

extern const char* const kRunRecordName;  // "run.json"

struct tRunRecordDataSet {
    std::string descriptor;  // ZDX path
    std::string dataFile;    // ZDT path
    std::string modelTime;   // "dd.mm.yyyy hh:mm:ss" as the descriptor has it
};

struct tRunRecord {
    std::vector<std::string> commandLine;  // empty: the console dialogue
    std::string configurationPath;         // empty: set up at the console
    std::string rootFolder;
    std::string outputFolder;
    std::vector<tRunRecordDataSet> dataSets;  // in time order
    kwd::engine::tDetector detector;
    int64_t particlesPerPeriod = 0;
    int64_t batchSize = 0;
    double minHeight = 0.0;
    int32_t outputInterval = 0;
    int32_t updateInterval = 0;
    std::string model;
    uint64_t seed = 0;
    int32_t threads = 0;

    kwd::tDateTime start = 0.0;
    std::optional<kwd::tDateTime> end;
    std::string state = "running";  // "running", "finished", "failed", "interrupted"
    std::string error;              // the error line of a failed run
    int64_t particlesSimulated = 0;
    int64_t particlesThroughEmitter = 0;
};

// A wall-clock date-time as "yyyy-mm-ddThh:mm:ss".
std::string isoDateTimeText(kwd::tDateTime aValue);

// The record as JSON text (two-space indent, a line end at the end).
std::string runRecordJson(const tRunRecord& aRecord);

// Writes the record to aFolder + "/run.json", replacing it whole.
void writeRunRecord(const std::string& aFolder, const tRunRecord& aRecord);

}  // namespace kwd::frontend
