#include "frontend/u_RunRecord.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "frontend/u_Dialogue.h"
#include "frontend/u_Version.h"
#include "platform/FileIO.h"

using kwd::engine::tDetector;

namespace kwd::frontend {

const char* const kRunRecordName = "run.json";

std::string isoDateTimeText(kwd::tDateTime aValue) {
    const kwd::DateTimeParts p = kwd::decodeDateTime(aValue);
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", p.year, p.month, p.day,
                  p.hour, p.minute, p.second);
    return text;
}

std::string runRecordJson(const tRunRecord& r) {
    using nlohmann::ordered_json;
    ordered_json dataSets = ordered_json::array();
    for (const tRunRecordDataSet& d : r.dataSets) {
        dataSets.push_back({{"descriptor", d.descriptor},
                            {"dataFile", d.dataFile},
                            {"modelTime", d.modelTime}});
    }
    const tDetector& d = r.detector;
    ordered_json settings = {
        {"configuration", r.configurationPath.empty() ? ordered_json(nullptr)
                                                      : ordered_json(r.configurationPath)},
        {"rootFolder", r.rootFolder},
        {"outputFolder", r.outputFolder},
        {"dataSets", dataSets},
        {"detector",
         {{"xMin", d.xMin}, {"xMax", d.xMax}, {"yMin", d.yMin},
          {"yMax", d.yMax}, {"zMin", d.zMin}, {"zMax", d.zMax}}},
        {"particlesPerPeriod", r.particlesPerPeriod},
        {"batchSize", r.batchSize},
        {"minHeight", r.minHeight},
        {"outputInterval", r.outputInterval},
        {"updateInterval", r.updateInterval},
        {"model", r.model},
        {"seed", r.seed},
        {"threads", r.threads},
    };
    ordered_json record = {
        {"program", "kwd-footprint"},
        {"version", programVersion()},
        {"commit", programCommit()},
        {"commandLine",
         r.commandLine.empty() ? ordered_json("console") : ordered_json(r.commandLine)},
        {"settings", settings},
        {"start", isoDateTimeText(r.start)},
        {"end", r.end ? ordered_json(isoDateTimeText(*r.end)) : ordered_json(nullptr)},
        {"state", r.state},
    };
    if (!r.error.empty()) record["error"] = r.error;
    record["totals"] = {{"particlesSimulated", r.particlesSimulated},
                        {"particlesThroughEmitter", r.particlesThroughEmitter}};
    // Paths and texts that are not UTF-8 are written with replacement
    // characters rather than refused: the record must not end a run.
    return record.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

void writeRunRecord(const std::string& aFolder, const tRunRecord& aRecord) {
    kwd::writeWholeFile(joinPath(aFolder, kRunRecordName), runRecordJson(aRecord));
}

}  // namespace kwd::frontend
