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
// A symbolic link at `path` is refused (refuseLink).
void writeWholeFile(const std::string& path, std::string_view bytes);
// Appends the bytes and closes the file; what was there before is kept.
// A symbolic link at `path` is refused.
void appendToFile(const std::string& path, std::string_view bytes);

// Result files are never written through symbolic links: a link planted
// under a result file's name could otherwise lead a write onto any file the
// user may write, inputs included.
// Opens `path` for writing with the open(2) `flags` (O_CREAT for a file that
// may be new), mode 0666 before the umask, never following a link in its
// place. Returns the descriptor; a link there raises FileError
// "<what> "<path>": it is a symbolic link ...", any other failure FileError
// "<what> "<path>": <reason>".
int openResultFile(const std::string& path, int flags, const std::string& what);
// Creates the temporary file `tmpPath` afresh (O_EXCL, O_NOFOLLOW), for a
// result that is renamed into place at `path`: whatever stands at `tmpPath`
// (left by a run that was killed, or a planted link) is removed first, the
// link itself and not what it points to. Failures raise FileError
// "cannot create file "<path>": <reason>".
int createTemporaryFile(const std::string& tmpPath, const std::string& path);
// Raises FileError "<what> "<path>": it is a symbolic link ..." when `path`
// is one.
void refuseLink(const std::string& path, const std::string& what);

// The text of errno for messages.
std::string systemReason(int err);

}  // namespace kwd
