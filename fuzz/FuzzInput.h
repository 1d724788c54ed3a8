#pragma once
// Shared by the fuzz targets: the readers take file paths, so every input is
// written to a file of this process's own scratch folder before it is read.

#include <unistd.h>

#include <cfenv>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "platform/MessageSink.h"

namespace kwdfuzz {

// The scratch folder of this process (/tmp/kwd_fuzz_<pid>), created on first
// use and removed when the process ends.
inline const std::string& scratchFolder() {
    static const std::string folder = [] {
        const std::string dir = "/tmp/kwd_fuzz_" + std::to_string(::getpid());
        std::filesystem::create_directories(dir);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all("/tmp/kwd_fuzz_" + std::to_string(::getpid()), ignored);
        });
        return dir;
    }();
    return folder;
}

// Writes the bytes to `name` in the scratch folder and returns the full path.
inline std::string writeInput(const std::string& name, std::string_view bytes) {
    const std::string path = scratchFolder() + "/" + name;
    // A fresh file each time: the file system may flush a file that is
    // truncated and written again on close, which would slow every run.
    std::remove(path.c_str());
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) __builtin_trap();  // the harness itself is broken
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size())
        __builtin_trap();
    std::fclose(f);
    return path;
}

// Removes a scratch file when it goes out of scope: for targets whose inputs
// choose their own file names.
class tScratchFile {
public:
    explicit tScratchFile(std::string path) : fPath(std::move(path)) {}
    ~tScratchFile() { std::remove(fPath.c_str()); }
    tScratchFile(const tScratchFile&) = delete;
    tScratchFile& operator=(const tScratchFile&) = delete;

private:
    std::string fPath;
};

// Sends the readers' messages nowhere (once per process): by default each
// goes to standard error, and a fuzz run would print them by the thousand.
inline void silenceMessages() {
    static const bool silenced = [] {
        kwd::setMessageSink([](const std::string&) {});
        return true;
    }();
    (void)silenced;
}

// Ends the run with a finding when a property does not hold.
inline void check(bool ok) {
    if (!ok) __builtin_trap();
}

// The floating-point flags that end a run of the program.
constexpr int kWatchedFlags = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW;

inline std::string_view asText(const uint8_t* data, size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

}  // namespace kwdfuzz
