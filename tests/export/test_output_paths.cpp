// kwd-export writes only where it may: never over a file it reads nor inside
// the trajectory folder it reads, however the path is spelled.

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/ExportFixtures.h"
#include "export/u_ExportProgram.h"
#include "export/u_OutputFile.h"
#include "platform/DateTime.h"
#include "platform/FileIO.h"

using kwd::exporter::runKwdExport;
using kwd::exporter::tReplacingFile;

using kwd::dataset::TZDXFile;

namespace {

namespace fs = std::filesystem;

std::string withRoot(std::string s, const std::string& root) {
    for (size_t p; (p = s.find('@')) != std::string::npos;) s.replace(p, 1, root);
    return s;
}

// A trajectory folder (<root>/trajectory) of normalised footprints whose
// grid comes from an atmosphere data set beside it, and a data set
// <root>/data/one.ZDX; links <root>/tlink -> trajectory, <root>/dlink ->
// data and <root>/data/link.nc -> one.ZDX, and a hard link
// <root>/data/hard.nc of one.ZDX (refused too: a careful user's mistake).
struct tPaths : kwd::test::tDensityFixture {
    const std::string top = root.path();
    tPaths() {
        fs::remove(folder + "/VirtPart_Park_01.07.2018 12.00.00.ZDX");
        fs::remove(folder + "/VirtPart_Park_01.07.2018 12.00.00.ZDT");
        kwd::createFolders(top + "/atmosphere");
        TZDXFile a = kwd::test::descriptor(3, 3, 1, {1, 2, 3}, {2, 2, 2}, {1});
        a.nameVars = {"Objects ( )"};
        kwd::test::writeDataSet(top + "/atmosphere/Park_AT", a, {std::vector<float>(9, 0.0f)});
        kwd::createFolders(top + "/data");
        TZDXFile d = kwd::test::descriptor(1, 1, 1, {1.0f}, {1.0f}, {1.0f});
        d.nameVars = {"a"};
        kwd::test::writeDataSet(top + "/data/one", d, {{1}});
        fs::create_directory_symlink(folder, top + "/tlink");
        fs::create_directory_symlink(top + "/data", top + "/dlink");
        fs::create_symlink("one.ZDX", top + "/data/link.nc");
        fs::create_hard_link(top + "/data/one.ZDX", top + "/data/hard.nc");
    }
};

TEST(OutputPaths, InputsAndTheTrajectoryFolderAreRefused) {
    tPaths f;
    const std::string map = "map @/trajectory ";
    const std::string netcdf = "netcdf @/data/one.ZDX ";
    const std::string inside = "\" lies inside the folder \"@/trajectory\" that is read; choose a path outside it";
    struct Case {
        std::string what;
        std::vector<std::string> args;
        std::string out;  // "@" is the root; empty: written
    };
    const Case cases[] = {
        {"the descriptor", {"netcdf", "@/data/one.ZDX", "@/data/one.ZDX"},
         "InputError: output \"@/data/one.ZDX\" is one of the files read (\"@/data/one.ZDX\"); "
         "choose another path"},
        {"its data file", {"netcdf", "@/data/one.ZDX", "@/data/one.ZDT"},
         "InputError: output \"@/data/one.ZDT\" is one of the files read (\"@/data/one.ZDT\"); "
         "choose another path"},
        {"the descriptor spelled otherwise", {"netcdf", "@/data/one.ZDX", "@/data/../data/./one.ZDX"},
         "InputError: output \"@/data/../data/./one.ZDX\" is one of the files read "
         "(\"@/data/one.ZDX\"); choose another path"},
        {"through a linked folder", {"netcdf", "@/data/one.ZDX", "@/dlink/one.ZDX"},
         "InputError: output \"@/dlink/one.ZDX\" is one of the files read (\"@/data/one.ZDX\"); "
         "choose another path"},
        {"a link to the descriptor", {"netcdf", "@/data/one.ZDX", "@/data/link.nc"},
         "InputError: output \"@/data/link.nc\" is one of the files read (\"@/data/one.ZDX\"); "
         "choose another path"},
        {"a hard link of the descriptor", {"netcdf", "@/data/one.ZDX", "@/data/hard.nc"},
         "InputError: output \"@/data/hard.nc\" is one of the files read (\"@/data/one.ZDX\"); "
         "choose another path"},
        {"the run log", {"map", "@/trajectory", "@/trajectory/logFile.log"},
         "InputError: footprint map \"@/trajectory/logFile.log\": the name must end in .png, .pdf "
         "or .svg (the format is chosen by it)"},
        {"beside the run log", {"map", "@/trajectory", "@/trajectory/logFile.log.png"},
         "InputError: output \"@/trajectory/logFile.log.png" + inside},
        {"a new folder inside", {"map", "@/trajectory", "@/trajectory/maps/m.png"},
         "InputError: output \"@/trajectory/maps/m.png" + inside},
        {"inside through a link", {"map", "@/trajectory", "@/tlink/m.svg"},
         "InputError: output \"@/tlink/m.svg" + inside},
        {"the folder read through a link", {"map", "@/tlink/", "@/trajectory/m.pdf"},
         "InputError: output \"@/trajectory/m.pdf\" lies inside the folder \"@/tlink\" that is "
         "read; choose a path outside it"},
        {"beside the atmosphere data set", {"map", "@/trajectory", "@/atmosphere/../atmosphere/Park_AT.png"},
         ""},
        {"beside the trajectory folder", {"map", "@/trajectory", "@/m.png"}, ""},
        {"footprints inside", {"footprints", "@/trajectory", "@/trajectory/f.nc"},
         "InputError: output \"@/trajectory/f.nc" + inside},
        {"a GeoTIFF over the grid's data file", {"geotiff", "@/trajectory", "@/atmosphere/Park_AT.ZDT"},
         "InputError: output \"@/atmosphere/Park_AT.ZDT\" is one of the files read "
         "(\"@/atmosphere/Park_AT.ZDT\"); choose another path"},
        {"footprints beside the trajectory folder", {"footprints", "@/trajectory", "@/f.nc"}, ""},
        {"a NetCDF file beside the data set", {"netcdf", "@/data/one.ZDX", "@/data/one.nc"}, ""},
    };
    for (const Case& c : cases) {
        const std::string logBefore = kwd::readWholeFile(f.folder + "/logFile.log");
        const std::string zdxBefore = kwd::readWholeFile(f.top + "/data/one.ZDX");
        std::vector<std::string> args;
        for (const auto& a : c.args) args.push_back(withRoot(a, f.top));
        std::ostringstream out;
        const int status = runKwdExport(args, out);
        if (c.out.empty()) {
            EXPECT_EQ(status, 0) << c.what << ": " << out.str();
            EXPECT_TRUE(kwd::fileExists(args.back())) << c.what;
        } else {
            EXPECT_EQ(status, 1) << c.what;
            EXPECT_EQ(out.str(), withRoot(c.out, f.top) + "\n") << c.what;
        }
        EXPECT_EQ(kwd::readWholeFile(f.folder + "/logFile.log"), logBefore) << c.what;
        EXPECT_EQ(kwd::readWholeFile(f.top + "/data/one.ZDX"), zdxBefore) << c.what;
        EXPECT_FALSE(fs::exists(f.folder + "/maps")) << c.what;
    }
    for (const char* folder : {"", "/data", "/trajectory", "/atmosphere"})
        EXPECT_EQ(kwd::test::temporaryFiles(f.top + folder), std::vector<std::string>{}) << folder;
}

TEST(OutputPaths, MissingOutputFolder) {
    tPaths f;
    struct Case {
        std::vector<std::string> args;
        std::string out;
    };
    const Case cases[] = {
        {{"netcdf", "@/data/one.ZDX", "@/none/o.nc"},
         "FileError: NetCDF file \"@/none/o.nc\": cannot create the file (No such file or directory)"},
        {{"map", "@/trajectory", "@/none/m.png"},
         "FileError: footprint map \"@/none/m.png\": cannot create the file (No such file or directory)"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args;
        for (const auto& a : c.args) args.push_back(withRoot(a, f.top));
        std::ostringstream out;
        EXPECT_EQ(runKwdExport(args, out), 1);
        EXPECT_EQ(out.str(), withRoot(c.out, f.top) + "\n");
    }
}

// Runs kwd-export, as the user nobody when the tests run as root (whom
// permissions do not stop); its standard output, or "" when it cannot run.
std::string runAsUser(const std::vector<std::string>& args, const std::string& outFile) {
    constexpr uid_t kNobody = 65534;
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fd = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || ::dup2(fd, 1) < 0) _exit(125);
        if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 ||
                                 ::setuid(kNobody) != 0))
            _exit(126);
        std::vector<char*> argv = {const_cast<char*>(KWD_EXPORT_PROGRAM)};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) >= 125)
        return "";
    return kwd::readWholeFile(outFile);
}

TEST(OutputPaths, ClosedOutputFolder) {
    tPaths f;
    kwd::createFolders(f.top + "/closed");
    fs::permissions(f.top + "/closed", fs::perms(0555));
    const std::string out =
        runAsUser({"netcdf", f.top + "/data/one.ZDX", f.top + "/closed/o.nc"}, f.top + "/out.txt");
    if (out.empty()) GTEST_SKIP() << "cannot run kwd-export as another user";
    EXPECT_EQ(out, "FileError: NetCDF file \"" + f.top +
                       "/closed/o.nc\": cannot create the file (Permission denied)\n");
    EXPECT_FALSE(fs::exists(f.top + "/closed/o.nc"));
}

// An existing output is replaced whole; a failing write leaves it as it was.
TEST(OutputPaths, ReplacedOnlyWhenComplete) {
    tPaths f;
    const std::string target = f.top + "/m.png";
    kwd::writeWholeFile(target, "old");
    std::ostringstream out;
    ASSERT_EQ(runKwdExport({"map", f.folder, target}, out), 0) << out.str();
    EXPECT_EQ(kwd::readWholeFile(target).substr(0, 4), "\x89PNG");

    tReplacingFile unfinished(f.top + "/n.nc", "NetCDF file");
    unfinished.write("partial");
    const std::string temp = unfinished.tempPath();
    EXPECT_EQ(fs::path(temp).parent_path(), fs::path(f.top));
    EXPECT_TRUE(kwd::fileExists(temp));
    {
        tReplacingFile second(f.top + "/n.nc", "NetCDF file");
        EXPECT_NE(second.tempPath(), temp);  // each writer its own name
    }
    unfinished.commit();
    EXPECT_EQ(kwd::readWholeFile(f.top + "/n.nc"), "partial");
    EXPECT_FALSE(kwd::fileExists(temp));
}

}  // namespace
