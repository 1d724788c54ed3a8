#pragma once
// Helpers of the container tests: a scratch folder per test and file access.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/FileIO.h"

namespace container_test {

class ScratchFolder : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        fDir = std::filesystem::temp_directory_path() /
               ("kwd_container_" + std::string(info->test_suite_name()) + "_" + info->name());
        std::filesystem::remove_all(fDir);
        std::filesystem::create_directories(fDir);
    }
    void TearDown() override { std::filesystem::remove_all(fDir); }

    std::string path(const std::string& name) const { return (fDir / name).string(); }

    // Writes lines with CR LF after each and returns the path.
    std::string writeLines(const std::string& name, const std::vector<std::string>& lines) const {
        std::string bytes;
        for (const auto& l : lines) bytes += l + "\r\n";
        kwd::writeWholeFile(path(name), bytes);
        return path(name);
    }
    std::string writeBytes(const std::string& name, const std::string& bytes) const {
        kwd::writeWholeFile(path(name), bytes);
        return path(name);
    }

    std::filesystem::path fDir;
};

}  // namespace container_test
