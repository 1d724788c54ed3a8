#include "export/u_OutputFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <system_error>

#include "platform/FileIO.h"
#include "platform/KwdError.h"

namespace kwd::exporter {

namespace fs = std::filesystem;

namespace {

// The path with every link of its existing part resolved ("a/../b" and
// "./b" become the same path); as written, made absolute, when that fails.
fs::path resolved(const fs::path& p) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(p, ec);
    if (ec) return p.lexically_normal();
    const fs::path r = fs::weakly_canonical(absolute, ec);
    return ec ? absolute.lexically_normal() : r;
}

// Where a file written to `p` lands: the resolved folder and the name, the
// last link not followed (a rename replaces the link, not what it names).
fs::path location(const fs::path& p) {
    const fs::path absolute = fs::absolute(p);
    const fs::path name = absolute.filename();
    if (name.empty() || name == "." || name == "..") return resolved(absolute);
    return resolved(absolute.parent_path()) / name;
}

// What `p` names when it exists, every link followed.
std::optional<fs::path> target(const fs::path& p) {
    std::error_code ec;
    const fs::path t = fs::canonical(p, ec);
    if (ec) return std::nullopt;
    return t;
}

bool isInside(const fs::path& p, const fs::path& folder) {
    auto a = p.begin(), b = folder.begin();
    for (; b != folder.end(); ++a, ++b) {
        if (b->empty()) continue;  // a trailing separator of the folder
        if (a == p.end() || *a != *b) return false;
    }
    return true;
}

}  // namespace

void refuseOutputOverInputs(const std::string& output, const std::vector<std::string>& inputs,
                            const std::vector<std::string>& folders) {
    std::vector<fs::path> written = {location(output)};
    if (const auto t = target(output)) written.push_back(*t);
    for (const std::string& input : inputs) {
        const fs::path in = resolved(input);
        std::error_code ec;
        bool same = fs::equivalent(output, input, ec) && !ec;  // hard links too
        for (const fs::path& w : written) same = same || w == in;
        if (same)
            throw kwd::InputError("output \"" + output + "\" is one of the files read (\"" +
                                      input + "\"); choose another path");
    }
    for (const std::string& folder : folders) {
        const fs::path f = resolved(folder);
        for (const fs::path& w : written)
            if (isInside(w, f))
                throw kwd::InputError("output \"" + output + "\" lies inside the folder \"" +
                                      folder + "\" that is read; choose a path outside it");
    }
}

tReplacingFile::tReplacingFile(std::string finalPath, std::string what)
    : fFinal(std::move(finalPath)), fWhat(std::move(what)) {
    static std::atomic<unsigned> counter{0};
    for (;;) {
        fTemp = fFinal + "." + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".tmp~";
        fFd = ::open(fTemp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fFd >= 0) break;
        if (errno != EEXIST) fail("create the file", kwd::systemReason(errno));
    }
}

tReplacingFile::~tReplacingFile() {
    if (fFd >= 0) ::close(fFd);
    if (!fCommitted) ::unlink(fTemp.c_str());
}

void tReplacingFile::fail(const std::string& action, const std::string& reason) const {
    throw kwd::FileError(fWhat + " \"" + fFinal + "\": cannot " + action + " (" + reason + ")");
}

void tReplacingFile::write(std::string_view bytes) {
    if (fFd < 0) fail("write the file", "it is closed");
    while (!bytes.empty()) {
        const ssize_t n = ::write(fFd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            fail("write the file", kwd::systemReason(errno));
        }
        bytes.remove_prefix(size_t(n));
    }
}

void tReplacingFile::close() {
    if (fFd < 0) return;
    const int result = ::close(fFd);
    fFd = -1;
    if (result != 0) fail("write the file", kwd::systemReason(errno));
}

void tReplacingFile::commit() {
    close();
    if (::rename(fTemp.c_str(), fFinal.c_str()) != 0)
        fail("rename \"" + fTemp + "\" into place", kwd::systemReason(errno));
    fCommitted = true;
}

}  // namespace kwd::exporter
