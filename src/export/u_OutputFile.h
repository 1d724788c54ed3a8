#pragma once
// Where and how kwd-export writes a file: never over a file it reads nor
// inside the trajectory folder it reads, and always under a temporary name
// beside the final one, renamed into place when complete, so that a failure
// leaves no truncated file and never replaces what stood there.

#include <string>
#include <string_view>
#include <vector>

namespace kwd::exporter {

// Raises kwd::InputError naming `output` when it is one of `inputs` or lies
// inside (or is) one of `folders`. Paths are compared after links are
// resolved: those of the folder the output would be written into, and the
// output itself when it exists (a link to an input is refused as well).
void refuseOutputOverInputs(const std::string& output, const std::vector<std::string>& inputs,
                            const std::vector<std::string>& folders);

// A new file under a unique temporary name in the folder of `finalPath`.
// Errors are kwd::FileError "<what> \"<finalPath>\": cannot ... (<reason>)".
class tReplacingFile {
public:
    // Creates the temporary file (a missing folder gives "No such file or
    // directory", an unwritable one "Permission denied").
    tReplacingFile(std::string finalPath, std::string what);
    // Removes the temporary file unless commit() renamed it into place.
    ~tReplacingFile();
    tReplacingFile(const tReplacingFile&) = delete;
    tReplacingFile& operator=(const tReplacingFile&) = delete;

    const std::string& tempPath() const { return fTemp; }
    const std::string& finalPath() const { return fFinal; }

    // Appends bytes through the descriptor opened by the constructor.
    void write(std::string_view bytes);
    // Closes that descriptor (for a writer that opens the file itself).
    void close();
    // Closes the file if open and renames it to the final path.
    void commit();

    // Raises the FileError "<what> \"<finalPath>\": cannot <action> (<reason>)".
    [[noreturn]] void fail(const std::string& action, const std::string& reason) const;

private:
    std::string fFinal;
    std::string fWhat;
    std::string fTemp;
    int fFd = -1;
    bool fCommitted = false;
};

}  // namespace kwd::exporter
