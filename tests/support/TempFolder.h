#pragma once
// A fresh temporary folder per test object, removed with everything in it
// when the object goes. The folder is readable by other users, so tests that
// run the program as another user can use it.

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>

namespace kwd::test {

class tTempFolder {
public:
    explicit tTempFolder(const std::string& prefix = "kwd_test_") {
        static std::atomic<int> counter{0};
        fPath = (std::filesystem::temp_directory_path() /
                 (prefix + std::to_string(::getpid()) + "_" + std::to_string(counter++)))
                    .string();
        std::filesystem::remove_all(fPath);
        std::filesystem::create_directories(fPath);
    }
    ~tTempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(fPath, ec);
    }
    tTempFolder(const tTempFolder&) = delete;
    tTempFolder& operator=(const tTempFolder&) = delete;

    const std::string& path() const { return fPath; }
    std::string file(const std::string& name) const { return fPath + "/" + name; }

private:
    std::string fPath;
};

}  // namespace kwd::test
