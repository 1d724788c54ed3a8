#include "platform/FileIO.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/KwdError.h"

namespace kwd {
namespace fs = std::filesystem;

std::string systemReason(int err) { return std::strerror(err); }

namespace {

[[noreturn]] void fail(const std::string& what, const std::string& path, int err) {
    throw FileError(what + " \"" + path + "\": " + systemReason(err));
}

// Writes all bytes; returns 0 or the errno of the failing write.
int writeAll(int fd, std::string_view bytes) {
    const char* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        p += n;
        left -= size_t(n);
    }
    return 0;
}

bool isSymbolicLink(const std::string& path) {
    struct stat st{};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

[[noreturn]] void failLink(const std::string& what, const std::string& path) {
    throw FileError(what + " \"" + path +
                    "\": it is a symbolic link; result files are never written through links");
}

}  // namespace

void refuseLink(const std::string& path, const std::string& what) {
    if (isSymbolicLink(path)) failLink(what, path);
}

int openResultFile(const std::string& path, int flags, const std::string& what) {
    const int fd = ::open(path.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) return fd;
    const int err = errno;
    if (err == ELOOP && isSymbolicLink(path)) failLink(what, path);
    fail(what, path, err);
}

int createTemporaryFile(const std::string& tmpPath, const std::string& path) {
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::open(tmpPath.c_str(), flags, 0666);
    if (fd < 0 && errno == EEXIST) {
        ::unlink(tmpPath.c_str());
        fd = ::open(tmpPath.c_str(), flags, 0666);
    }
    if (fd < 0) fail("cannot create file", path, errno);
    return fd;
}

bool fileExists(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool folderExists(const std::string& path) {
    struct stat st{};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void createFolders(const std::string& path) {
    std::error_code ec;
    fs::create_directories(path, ec);
    if (ec || !folderExists(path))
        throw FileError("cannot create folder \"" + path + "\": " +
                        (ec ? ec.message() : std::string("not a folder")));
}

std::vector<std::string> listFiles(const std::string& folder) {
    std::vector<std::string> files;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) throw FileError("cannot list folder \"" + folder + "\": " + ec.message());
    for (const auto& entry : it) {
        std::error_code fec;
        if (entry.is_regular_file(fec)) files.push_back(entry.path().string());
    }
    return files;
}

namespace {

// At most `limit` bytes from the start of a file.
std::string readFromStart(const std::string& path, size_t limit) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) fail("cannot open file", path, errno);
    std::string data;
    char buf[1 << 16];
    while (data.size() < limit) {
        const ssize_t n = ::read(fd, buf, std::min(sizeof buf, limit - data.size()));
        if (n < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            ::close(fd);
            fail("cannot read file", path, err);
        }
        if (n == 0) break;
        data.append(buf, size_t(n));
    }
    ::close(fd);
    return data;
}

}  // namespace

std::string readWholeFile(const std::string& path) {
    return readFromStart(path, std::string::npos);
}

std::string readFileStart(const std::string& path, size_t maxBytes) {
    return readFromStart(path, maxBytes);
}

void writeWholeFile(const std::string& path, std::string_view bytes) {
    refuseLink(path, "cannot replace file");
    const std::string tmp = path + ".tmp~";
    const int fd = createTemporaryFile(tmp, path);
    int err = writeAll(fd, bytes);
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err != 0) {
        ::unlink(tmp.c_str());
        fail("cannot write file", path, err);
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        fail("cannot replace file", path, err);
    }
}

void appendToFile(const std::string& path, std::string_view bytes) {
    const int fd = openResultFile(path, O_WRONLY | O_CREAT | O_APPEND, "cannot open file for appending");
    int err = writeAll(fd, bytes);
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err != 0) fail("cannot write file", path, err);
}

}  // namespace kwd
