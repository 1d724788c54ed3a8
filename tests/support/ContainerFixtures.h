#pragma once
// The fixture of the container tests: a scratch folder per test and file access.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/FileIO.h"
#include "support/TempFolder.h"
#include "support/TextFiles.h"

namespace kwd::test {

class ScratchFolder : public ::testing::Test {
protected:
    std::string path(const std::string& name) const { return fFolder.file(name); }

    // Writes lines with CR LF after each and returns the path.
    std::string writeLines(const std::string& name, const std::vector<std::string>& lines) const {
        kwd::test::writeLines(path(name), lines);
        return path(name);
    }
    std::string writeBytes(const std::string& name, const std::string& bytes) const {
        kwd::writeWholeFile(path(name), bytes);
        return path(name);
    }

private:
    tTempFolder fFolder{"kwd_container_"};
};

}  // namespace kwd::test
