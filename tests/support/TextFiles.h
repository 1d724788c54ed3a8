#pragma once
// Reading and writing the text files of the tests, and listing a folder.

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/FileIO.h"

namespace kwd::test {

// The whole file as bytes; empty if it cannot be read.
inline std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

// Writes the lines with CR LF after each, as the program writes its text files.
inline void writeLines(const std::string& path, const std::vector<std::string>& lines) {
    std::string bytes;
    for (const auto& l : lines) bytes += l + "\r\n";
    kwd::writeWholeFile(path, bytes);
}

// The lines of a text, without their line ends (LF or CR LF).
inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        result.push_back(line);
    }
    return result;
}

inline bool contains(const std::vector<std::string>& v, const std::string& line) {
    return std::find(v.begin(), v.end(), line) != v.end();
}

// Names of the files directly inside a folder, sorted; none if there is no folder.
inline std::vector<std::string> fileNames(const std::string& folder) {
    std::vector<std::string> names;
    if (!std::filesystem::is_directory(folder)) return names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        if (e.is_regular_file()) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

inline size_t countStartingWith(const std::vector<std::string>& names, const std::string& prefix) {
    return size_t(std::count_if(names.begin(), names.end(),
                                [&](const std::string& n) { return n.rfind(prefix, 0) == 0; }));
}

// The names of the temporary files ("*.tmp~") a writer left in a folder.
inline std::vector<std::string> temporaryFiles(const std::string& folder) {
    std::vector<std::string> names;
    for (const std::string& name : fileNames(folder))
        if (name.size() >= 5 && name.compare(name.size() - 5, 5, ".tmp~") == 0)
            names.push_back(name);
    return names;
}

// Standard output and error of a shell command, and its status.
inline std::pair<int, std::string> runCommand(const std::string& command,
                                              const std::string& scratch) {
    const int status = std::system((command + " > '" + scratch + "' 2>&1").c_str());
    return {status, readText(scratch)};
}

}  // namespace kwd::test
