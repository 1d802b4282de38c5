// A listing or settings file that cannot be written leaves the old file and
// the source as they were, leaves no temporary file behind, and is reported
// as a failure. The tests run as root in CI, so no failure here relies on
// file permissions: they use a missing directory, a directory in the way,
// kernel file systems, and a file size limit that stands in for a full disk.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <iostream>
#include <thread>
#include <unistd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>

#include "Compiler.h"
#include "Scratch.h"
#include "Settings.h"
#include "TextFile.h"
#include "test_support.h"

using namespace mirtolan::test;
namespace fs = std::filesystem;

namespace {

const std::string Archive = "$$ _TestIfZero\n\ttst\tFtmp1\n$$ DUP\n\tld\tFtmp1,Y\n$\n";
const std::string Source = ": a DUP ;\n: b a a ;\n";

struct CliRun {
    int status = -1;
    std::string err;
};

// Runs mirtolanc in `dir`; `prefix` is shell text run first in the same shell.
CliRun mirtolanc(const std::string& dir, const std::string& args, const std::string& prefix = "")
{
    const std::string errFile = dir + "/.stderr";
    const std::string cmd = "cd '" + dir + "' && " + prefix + " '" MIRTOLANC_PATH "' " + args + " >/dev/null 2>'" + errFile + "'";
    const int raw = std::system(cmd.c_str());
    CliRun r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.err = ReadFile(errFile);
    fs::remove(errFile);
    return r;
}

std::vector<std::string> Entries(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TempDir project(const std::string& source = Source)
{
    TempDir tmp;
    const std::string& dir = tmp.path();
    WriteFile(dir + "/Mirtolan.arch", Archive);
    WriteFile(dir + "/prog.4th", source);
    WriteFile(dir + "/prog.asm", "old listing");
    return tmp;
}

void ExpectFailedCleanly(const CliRun& r, const std::string& dir, const std::string& source, const char* what)
{
    EXPECT_EQ(r.status, 2) << what << ": " << r.err;
    EXPECT_NE(r.err.find("error:"), std::string::npos) << what << ": " << r.err;
    EXPECT_EQ(r.err.find("Compile Completed"), std::string::npos) << what;
    EXPECT_EQ(ReadFile(dir + "/prog.4th"), source) << what;
    EXPECT_EQ(Entries(dir), (std::vector<std::string>{"Mirtolan.arch", "prog.4th", "prog.asm"}))
        << what << ": a file was left behind";
}

TEST(FileSafety, UnwritableTargetsFailAndTouchNothing)
{
    const struct {
        const char* name;
        std::string args;
    } cases[] = {
        {"missing directory", "-o no/such/dir/prog.asm prog.4th"},
        {"target inside a file", "-o prog.4th/x.asm prog.4th"},
        {"kernel file", "-o /proc/version prog.4th"},
        {"kernel directory", "-o /proc/mirtolan-test.asm prog.4th"},
        {"sysfs", "-o /sys/mirtolan-test.asm prog.4th"},
    };
    for (const auto& tc : cases) {
        const TempDir tmp = project();
        const std::string& dir = tmp.path();
        const CliRun r = mirtolanc(dir, tc.args);
        ExpectFailedCleanly(r, dir, Source, tc.name);
        EXPECT_EQ(ReadFile(dir + "/prog.asm"), "old listing") << tc.name;
    }
}

TEST(FileSafety, DirectoryInThePlaceOfTheListing)
{
    const TempDir tmp = project();
    const std::string& dir = tmp.path();
    fs::remove(dir + "/prog.asm");
    fs::create_directory(dir + "/prog.asm");
    WriteFile(dir + "/prog.asm/keep", "kept");
    const CliRun r = mirtolanc(dir, "prog.4th");
    ExpectFailedCleanly(r, dir, Source, "directory");
    EXPECT_EQ(ReadFile(dir + "/prog.asm/keep"), "kept");
}

// A file size limit makes the write fail part way, as a full disk would.
// The shell ignores the signal the limit raises, so the write reports EFBIG.
TEST(FileSafety, WriteThatRunsOutOfRoomKeepsTheOldListing)
{
    std::string big;
    for (int i = 0; i < 2000; ++i)
        big += ": w" + std::to_string(i) + " DUP DUP DUP ;\n";
    const TempDir tmp = project(big);
    const std::string& dir = tmp.path();
    const CliRun r = mirtolanc(dir, "prog.4th", "trap '' XFSZ; ulimit -f 8;");
    ExpectFailedCleanly(r, dir, big, "full");
    EXPECT_NE(r.err.find("prog.asm"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(dir + "/prog.asm"), "old listing");
    // With room again the same compile succeeds.
    EXPECT_EQ(mirtolanc(dir, "prog.4th").status, 0);
    EXPECT_NE(ReadFile(dir + "/prog.asm"), "old listing");
}

// Sets a file size limit for this process for the life of the object.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lim = old_;
        lim.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lim);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }

private:
    rlimit old_{};
    void (*oldHandler_)(int);
};

TEST(FileSafety, SettingsFileThatCannotBeWrittenStaysAsItWas)
{
    const TempDir tmp;
    const std::string& dir = tmp.path();
    const std::string path = dir + "/mirtolan.INI";
    const std::string old = "[Compile]\r\nVarBeg=81\r\n";
    WriteFile(path, old);
    mirtolan::IniFile ini;
    ini.Load(path);
    ini.WriteString("Compile", "Dir", std::string(64 * 1024, 'd'));
    {
        FileSizeLimit limit(4096);
        EXPECT_THROW(ini.Save(path), mirtolan::CompileError);
    }
    EXPECT_EQ(ReadFile(path), old);
    EXPECT_EQ(Entries(dir), std::vector<std::string>{"mirtolan.INI"});
    // A directory in the way of the file, and a file in the way of its directory.
    fs::create_directory(dir + "/as-dir.INI");
    EXPECT_THROW(ini.Save(dir + "/as-dir.INI"), mirtolan::CompileError);
    EXPECT_TRUE(fs::is_directory(dir + "/as-dir.INI"));
    EXPECT_THROW(ini.Save(path + "/inside.INI"), mirtolan::CompileError);
    EXPECT_EQ(ReadFile(path), old);
}

// A write replaces regular files only: what the target is (a link, a
// device, a FIFO) stays what it is, and a folder or socket is refused.
TEST(FileSafety, WritesKeepWhatTheTargetIs)
{
    const std::string bytes = "new bytes\r\n";
    int heldOpen = -1; // the file of the /proc/self/fd case
    const struct {
        const char* name;
        // Makes the target `path` in `dir`; false when this system cannot (no mknod).
        std::function<bool(const std::string& dir, const std::string& path)> make;
        bool refused;
        // Checks the target after the write.
        std::function<void(const std::string& dir, const std::string& path)> check;
    } cases[] = {
        {"regular file of another owner",
         [](const std::string&, const std::string& p) {
             WriteFile(p, "old");
             // As root the owner and group are kept; a user keeps the mode at least.
             return ::chmod(p.c_str(), 0640) == 0 && (::geteuid() != 0 || ::chown(p.c_str(), 4321, 5432) == 0);
         },
         false,
         [&](const std::string& dir, const std::string& p) {
             struct stat st {};
             ASSERT_EQ(::lstat(p.c_str(), &st), 0);
             EXPECT_TRUE(S_ISREG(st.st_mode));
             EXPECT_EQ(st.st_mode & 07777, 0640u);
             if (::geteuid() == 0) {
                 EXPECT_EQ(st.st_uid, 4321u);
                 EXPECT_EQ(st.st_gid, 5432u);
             }
             EXPECT_EQ(ReadFile(p), bytes);
             EXPECT_EQ(Entries(dir).size(), 1u);
         }},
        {"symbolic link to a file elsewhere",
         [](const std::string& dir, const std::string& p) {
             fs::create_directory(dir + "/real");
             WriteFile(dir + "/real/file", "old");
             ::chmod((dir + "/real/file").c_str(), 0600);
             fs::create_symlink("real/file", dir + "/link");
             fs::create_symlink("link", p); // a chain of two
             return true;
         },
         false,
         [&](const std::string& dir, const std::string& p) {
             EXPECT_TRUE(fs::is_symlink(p));
             EXPECT_EQ(fs::read_symlink(p), "link");
             EXPECT_EQ(ReadFile(dir + "/real/file"), bytes);
             EXPECT_EQ(fs::status(dir + "/real/file").permissions(), fs::perms::owner_read | fs::perms::owner_write);
             EXPECT_EQ(Entries(dir + "/real"), std::vector<std::string>{"file"});
         }},
        {"dangling symbolic link",
         [](const std::string& dir, const std::string& p) {
             fs::create_symlink(dir + "/made", p);
             return true;
         },
         false,
         [&](const std::string& dir, const std::string& p) {
             EXPECT_TRUE(fs::is_symlink(p));
             EXPECT_EQ(ReadFile(dir + "/made"), bytes);
         }},
        {"FIFO",
         [](const std::string&, const std::string& p) { return ::mkfifo(p.c_str(), 0600) == 0; },
         false,
         [&](const std::string&, const std::string& p) { EXPECT_TRUE(fs::is_fifo(p)); }},
        // Nobody reads it: refused after a moment, not blocked on for good.
        {"FIFO nobody reads",
         [](const std::string&, const std::string& p) { return ::mkfifo(p.c_str(), 0600) == 0; },
         true,
         [&](const std::string&, const std::string& p) { EXPECT_TRUE(fs::is_fifo(p)); }},
        {"character device",
         [](const std::string&, const std::string& p) {
             return ::mknod(p.c_str(), S_IFCHR | 0666, ::makedev(1, 3)) == 0; // the null device
         },
         false,
         [&](const std::string&, const std::string& p) { EXPECT_TRUE(fs::is_character_file(p)); }},
        // /dev/stdout of a tool whose output goes to a file: the file is
        // written after what it holds, not replaced.
        {"open file through /proc/self/fd",
         [&](const std::string& dir, const std::string& p) {
             WriteFile(dir + "/opened", "old contents, longer than the new");
             heldOpen = ::open((dir + "/opened").c_str(), O_WRONLY);
             fs::create_symlink("/proc/self/fd/" + std::to_string(heldOpen), p);
             return heldOpen >= 0;
         },
         false,
         [&](const std::string& dir, const std::string&) {
             struct stat held {}, named {};
             ::fstat(heldOpen, &held);
             ::stat((dir + "/opened").c_str(), &named);
             EXPECT_EQ(held.st_ino, named.st_ino);
             EXPECT_EQ(ReadFile(dir + "/opened"), "old contents, longer than the new" + bytes);
             ::close(heldOpen);
         }},
        {"directory",
         [](const std::string&, const std::string& p) { return fs::create_directory(p); },
         true,
         [&](const std::string&, const std::string& p) {
             EXPECT_TRUE(fs::is_directory(p));
             EXPECT_TRUE(fs::is_empty(p));
         }},
        {"socket",
         [](const std::string&, const std::string& p) {
             sockaddr_un a{};
             a.sun_family = AF_UNIX;
             std::snprintf(a.sun_path, sizeof a.sun_path, "%s", p.c_str());
             const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
             const bool made = ::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
             ::close(fd);
             return made;
         },
         true,
         [&](const std::string&, const std::string& p) { EXPECT_TRUE(fs::is_socket(p)); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TempDir tmp;
        const std::string path = tmp / "target";
        if (!c.make(tmp.path(), path)) {
            std::cerr << "skipped: cannot make a " << c.name << " here\n";
            continue;
        }
        // A FIFO is written once someone reads it.
        std::string read;
        std::thread reader;
        if (fs::is_fifo(path) && !c.refused)
            reader = std::thread([&] { read = ReadFile(path); });
        if (c.refused) {
            EXPECT_THROW(mirtolan::WriteFileSafely(path, bytes), mirtolan::CompileError);
        } else {
            EXPECT_NO_THROW(mirtolan::WriteFileSafely(path, bytes));
        }
        if (reader.joinable()) {
            reader.join();
            EXPECT_EQ(read, bytes);
        }
        c.check(tmp.path(), path);
    }
}

// The settings file is often a link into a folder of dotfiles; saving keeps
// the link. The listing written to a device leaves the device as it was.
TEST(FileSafety, SettingsAndListingThroughLinksAndDevices)
{
    const TempDir tmp;
    fs::create_directory(tmp / "dotfiles");
    WriteFile(tmp / "dotfiles/mirtolan.INI", "[Compile]\r\n");
    fs::create_symlink("dotfiles/mirtolan.INI", tmp / "mirtolan.INI");
    mirtolan::IniFile ini;
    ini.Load(tmp / "mirtolan.INI");
    ini.WriteString("Compile", "VarBeg", "100");
    ini.Save(tmp / "mirtolan.INI");
    EXPECT_TRUE(fs::is_symlink(tmp / "mirtolan.INI"));
    EXPECT_EQ(ReadFile(tmp / "dotfiles/mirtolan.INI"), "[Compile]\r\nVarBeg=100\r\n");

    const TempDir proj = project();
    fs::remove(proj / "prog.asm");
    fs::create_symlink(tmp / "dotfiles/out.asm", proj / "prog.asm");
    EXPECT_EQ(mirtolanc(proj.path(), "prog.4th").status, 0);
    EXPECT_TRUE(fs::is_symlink(proj / "prog.asm"));
    EXPECT_NE(ReadFile(tmp / "dotfiles/out.asm").find("a:\r\n"), std::string::npos);
    if (::mknod((proj / "null").c_str(), S_IFCHR | 0666, ::makedev(1, 3)) == 0) {
        EXPECT_EQ(mirtolanc(proj.path(), "-o null prog.4th").status, 0);
        EXPECT_TRUE(fs::is_character_file(proj / "null"));
    }
}

// A scratch folder is private, and its removal never follows a link out of it.
TEST(FileSafety, ScratchFoldersArePrivateAndRemovedWithoutFollowingLinks)
{
    const TempDir outside;
    WriteFile(outside / "keep", "kept");
    std::string path;
    {
        const mirtolan::PrivateFolder scratch("mirtolan-test-");
        path = scratch.path();
        ASSERT_FALSE(path.empty()) << scratch.error();
        EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_all);
        EXPECT_NE(mirtolan::PrivateFolder("mirtolan-test-").path(), path);
        fs::create_directories(path + "/a/b");
        WriteFile(path + "/a/b/file", "x");
        fs::create_symlink(outside.path(), path + "/a/to-folder");
        fs::create_symlink(outside / "keep", path + "/to-file");
    }
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(ReadFile(outside / "keep"), "kept");
    EXPECT_EQ(mirtolan::RemoveTree(path), 0); // already gone: no failure
}

TEST(FileSafety, ListingWrittenThroughTheLibraryKeepsTheOldOneOnFailure)
{
    const TempDir tmp;
    const std::string& dir = tmp.path();
    WriteFile(dir + "/prog.asm", "old listing");
    mirtolan::Compiler c;
    c.archive.assign(TestArchive(), "test.arch");
    c.SourceFileName = dir + "/prog.4th";
    Lines source;
    for (int i = 0; i < 1000; ++i)
        source.push_back(": w" + std::to_string(i) + " DUP DUP ;");
    {
        FileSizeLimit limit(4096);
        EXPECT_THROW(mirtolan::CompileClick(c, source), mirtolan::CompileError);
    }
    EXPECT_EQ(ReadFile(dir + "/prog.asm"), "old listing");
    EXPECT_EQ(Entries(dir), std::vector<std::string>{"prog.asm"});
    // The listing is complete on screen, but the compile is not reported as completed.
    EXPECT_GT(c.Listing.size(), 3000u);
    EXPECT_TRUE(c.Messages.empty());
}

} // namespace

namespace {

// --- Hostile files through the command-line tool ------------------------------


TEST(CliInput, CrOnlyAndMixedLineEnds)
{
    for (const std::string source : {": a DUP ;\r: b a ;\r", ": a DUP ;\n\r\n: b a ;", "\r\r: a DUP ;\r\n\r\n\n: b a ;\n"}) {
        const TempDir tmp = project(source);
        const std::string& dir = tmp.path();
        const CliRun r = mirtolanc(dir, "--no-header prog.4th");
        EXPECT_EQ(r.status, 0) << r.err;
        const std::string asmText = ReadFile(dir + "/prog.asm");
        const std::string tail = "\r\na:\r\n\trjmp\tDUP\r\nb:\r\n\trjmp\ta\r\n";
        ASSERT_GE(asmText.size(), tail.size());
        EXPECT_EQ(asmText.substr(asmText.size() - tail.size()), tail);
    }
}

TEST(CliInput, EmptyAndBinaryArchives)
{
    const struct {
        const char* name;
        std::string archive;
    } cases[] = {
        {"empty", ""},
        {"line ends only", "\r\n\n\r"},
        {"noise", Noise(100000, 7)},
        {"header name of a megabyte", "$$ " + std::string(1 << 20, 'n') + "\n\tnop\n"},
    };
    for (const auto& tc : cases) {
        const TempDir tmp = project();
        const std::string& dir = tmp.path();
        WriteFile(dir + "/Mirtolan.arch", tc.archive);
        const CliRun r = mirtolanc(dir, "prog.4th");
        // None of these archives has a closed _TestIfZero, so nothing is written.
        EXPECT_EQ(r.status, 2) << tc.name << ": " << r.err;
        EXPECT_NE(r.err.find("_TestIfZero"), std::string::npos) << tc.name << ": " << r.err.substr(0, 200);
        EXPECT_EQ(ReadFile(dir + "/prog.asm"), "old listing") << tc.name;
    }
}

TEST(CliInput, BinarySourceIsCompiledAndReported)
{
    const std::string source = Noise(1 << 20, 9);
    const TempDir tmp = project(source);
    const std::string& dir = tmp.path();
    const CliRun r = mirtolanc(dir, "prog.4th");
    EXPECT_EQ(r.status, 1) << r.err.substr(0, 200);
    EXPECT_NE(r.err.find("\nCompile Completed\n"), std::string::npos);
    EXPECT_NE(ReadFile(dir + "/prog.asm"), "old listing");
    EXPECT_EQ(ReadFile(dir + "/prog.4th"), source);
}


} // namespace
