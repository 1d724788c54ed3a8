#include "frontend/u_OutputFolder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "frontend/u_Dialogue.h"
#include "platform/FileIO.h"
#include "platform/KwdError.h"

namespace kwd::frontend {

const char* const kLockFileName = ".kwd-footprint.lock";

tOutputFolderLock::tOutputFolderLock(const std::string& aFolder)
    : fPath(joinPath(aFolder, kLockFileName)) {
    // Never through a link: the lock file is created in the folder itself.
    fFd = ::open(fPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fFd < 0) {
        throw kwd::FileError("cannot create file \"" + fPath + "\": " + kwd::systemReason(errno));
    }
    while (::flock(fFd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        if (err == EINTR) continue;
        ::close(fFd);
        fFd = -1;
        if (err == EWOULDBLOCK) {
            throw kwd::FileError("the output folder \"" + aFolder +
                                 "\" is in use: another run holds its lock file \"" + fPath + "\"");
        }
        throw kwd::FileError("cannot lock file \"" + fPath + "\": " + kwd::systemReason(err));
    }
}

tOutputFolderLock::~tOutputFolderLock() {
    if (fFd >= 0) ::close(fFd);  // closing the only descriptor ends the lock
}

std::vector<std::string> filesBesideLock(const std::string& aFolder) {
    namespace fs = std::filesystem;
    std::vector<std::string> names;
    std::error_code ec;
    if (!fs::is_directory(aFolder, ec)) return names;
    fs::directory_iterator it(aFolder, ec);
    if (ec) throw kwd::FileError("cannot list folder \"" + aFolder + "\": " + ec.message());
    for (const fs::directory_entry& e : it) {
        const std::string name = e.path().filename().string();
        if (name == kLockFileName) continue;
        if (e.is_directory(ec) && !e.is_symlink(ec)) continue;
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void requireNoEarlierResults(const std::string& aFolder) {
    const std::vector<std::string> names = filesBesideLock(aFolder);
    if (names.empty()) return;
    throw kwd::FileError("the output folder \"" + aFolder + "\" already holds results (" +
                         std::to_string(names.size()) + " file(s), for instance \"" +
                         names.front() +
                         "\"); a run would add to them: choose an empty folder or "
                         "give --overwrite to empty it first");
}

void removeEarlierResults(const std::string& aFolder) {
    for (const std::string& name : filesBesideLock(aFolder)) {
        const std::string path = joinPath(aFolder, name);
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
            throw kwd::FileError("cannot delete file \"" + path + "\": " +
                                 kwd::systemReason(errno));
        }
    }
}

}  // namespace kwd::frontend
