#pragma once
// The output folder of a run. One run at a time works in it: the run holds
// an exclusive lock on a lock file in the folder for as long as it lasts, so
// that two runs never mix their grids, logs and particle lists. A scripted
// run also says what it may find there: nothing (unless told to empty it).

#include <string>
#include <vector>

namespace kwd::frontend {

// The lock file's name in the output folder. It stays after the run; only
// the lock on it ends.
extern const char* const kLockFileName;

class tOutputFolderLock {
public:
    // Creates the lock file in the existing folder aFolder when it is missing
    // and takes an exclusive lock on it without waiting. A lock that another
    // run (another process, or another holder in this one) holds raises
    // kwd::FileError "the output folder ... is in use: another run holds its
    // lock file ..."; a lock file that cannot be created or locked raises
    // kwd::FileError with the system's reason.
    explicit tOutputFolderLock(const std::string& aFolder);
    // Ends the lock (the file stays).
    ~tOutputFolderLock();
    tOutputFolderLock(const tOutputFolderLock&) = delete;
    tOutputFolderLock& operator=(const tOutputFolderLock&) = delete;

    const std::string& path() const { return fPath; }

private:
    std::string fPath;
    int fFd = -1;
};

// Names of the files (everything but folders) directly inside aFolder other
// than the lock file, sorted; none for a folder that is not there.
std::vector<std::string> filesBesideLock(const std::string& aFolder);

// Refuses (kwd::FileError naming the folder and a file in it) a folder that
// holds files of an earlier run: a run appends to the particle lists it
// finds, so two runs would be mixed.
void requireNoEarlierResults(const std::string& aFolder);

// Deletes every file directly inside aFolder except the lock file; folders
// inside it stay. Failures raise kwd::FileError.
void removeEarlierResults(const std::string& aFolder);

}  // namespace kwd::frontend
