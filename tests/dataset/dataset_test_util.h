#pragma once
// A fresh temporary folder per test, removed afterwards.

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>

namespace dstest {

class TempDir {
public:
    TempDir() {
        static std::atomic<int> counter{0};
        fPath = (std::filesystem::temp_directory_path() /
                 ("kwd_ds_" + std::to_string(::getpid()) + "_" + std::to_string(counter++)))
                    .string();
        std::filesystem::remove_all(fPath);
        std::filesystem::create_directories(fPath);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(fPath, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return fPath; }
    std::string file(const std::string& name) const { return fPath + "/" + name; }

private:
    std::string fPath;
};

}  // namespace dstest
