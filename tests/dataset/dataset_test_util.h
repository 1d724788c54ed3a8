#pragma once
// A fresh temporary folder per test, removed afterwards.

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>

#include "TestTempFolder.h"

namespace dstest {

// Each test gets a folder of its own.
struct TempDir : kwdtest::tTempFolder {
    TempDir() : tTempFolder("kwd_ds_") {}
};

}  // namespace dstest
