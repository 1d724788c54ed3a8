#pragma once
// File-system operations with the project's errors: every failure raises a
// FileError that names the path and the system's reason.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kwd {

bool fileExists(const std::string& path);    // a regular file (or link to one)
bool folderExists(const std::string& path);  // a directory
// Creates a folder with all missing parents; an existing folder is fine.
void createFolders(const std::string& path);
// Full paths of the regular files directly inside a folder, in listing order.
std::vector<std::string> listFiles(const std::string& folder);

std::string readWholeFile(const std::string& path);
// The first `maxBytes` bytes of a file (all of a shorter one).
std::string readFileStart(const std::string& path, size_t maxBytes);
// Writes the bytes to a temporary file beside `path` and renames it into
// place, so a failing write never leaves a truncated file where one stood.
void writeWholeFile(const std::string& path, std::string_view bytes);
// Appends the bytes and closes the file; what was there before is kept.
void appendToFile(const std::string& path, std::string_view bytes);

// The text of errno for messages.
std::string systemReason(int err);

}  // namespace kwd
