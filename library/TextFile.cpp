#include "TextFile.h"

#include <cerrno>
#include <cstdio>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

#include "Compiler.h"

namespace mirtolan {

static std::string errorText(int err) { return std::strerror(err); }

// Reads the file block by block, calling `block` with each.
template <class Block>
static void readBlocks(const std::string& path, Block block, std::size_t* sizeHint = nullptr)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        throw CompileError("Cannot open file " + path + ": " + errorText(errno));
    struct stat st {};
    if (sizeHint && ::fstat(::fileno(f), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
        *sizeHint = std::size_t(st.st_size);
    char buf[1 << 16];
    std::size_t n = 0;
    try {
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
            block(std::string_view(buf, n));
    } catch (...) {
        std::fclose(f);
        throw;
    }
    const bool failed = std::ferror(f) != 0;
    const int err = errno;
    std::fclose(f);
    if (failed)
        throw CompileError("Cannot read file " + path + ": " + errorText(err));
}

std::string ReadFileBytes(const std::string& path)
{
    std::string bytes;
    std::size_t size = 0;
    bool reserved = false;
    readBlocks(
        path,
        [&](std::string_view b) {
            // Room of the right size spares the copies of a growing string.
            if (!reserved && size > 0)
                bytes.reserve(size);
            reserved = true;
            bytes.append(b);
        },
        &size);
    return bytes;
}

std::vector<std::string> ReadLines(const std::string& path) { return SplitLines(ReadFileBytes(path)); }

// Splits text that arrives in blocks into lines, as SplitLines does: a line
// may run on from one block into the next, and so may a CR LF.
class LineSplitter {
public:
    void add(std::string_view block)
    {
        std::size_t start = 0;
        if (afterCR_ && !block.empty() && block[0] == '\n')
            start = 1;
        afterCR_ = false;
        for (std::size_t i = start; i < block.size(); ++i) {
            const char ch = block[i];
            if (ch != '\r' && ch != '\n')
                continue;
            endLine(block.substr(start, i - start));
            if (ch == '\r') {
                if (i + 1 == block.size())
                    afterCR_ = true;
                else if (block[i + 1] == '\n')
                    ++i;
            }
            start = i + 1;
        }
        partial_.append(block.substr(start));
    }
    // The text has ended: a line without a line end is a line too.
    void end()
    {
        if (!partial_.empty())
            lines_.push_back(partial_);
        partial_.clear();
    }
    // Hands over the lines completed so far.
    LineList take()
    {
        LineList out = std::move(lines_);
        lines_ = LineList();
        return out;
    }
    LineList finish()
    {
        end();
        return take();
    }

private:
    void endLine(std::string_view tail)
    {
        if (partial_.empty()) {
            lines_.push_back(tail);
        } else {
            partial_.append(tail);
            lines_.push_back(partial_);
            partial_.clear();
        }
    }

    LineList lines_;
    std::string partial_; // the start of a line whose end has not arrived yet
    bool afterCR_ = false; // the last block ended in CR, so an LF first in the next one ends no line
};

LineList SplitLineList(std::string_view text)
{
    LineSplitter s;
    s.add(text);
    return s.finish();
}

std::vector<std::string> SplitLines(std::string_view text) { return SplitLineList(text).lines(); }

FileSource::FileSource(const std::string& path) : path_(path), splitter_(std::make_unique<LineSplitter>())
{
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_)
        throw CompileError("Cannot open file " + path + ": " + errorText(errno));
    struct stat st {};
    if (::fstat(::fileno(file_), &st) == 0 && S_ISREG(st.st_mode))
        size_ = std::size_t(st.st_size);
}

FileSource::~FileSource() { std::fclose(file_); }

bool FileSource::readMore()
{
    if (ended_)
        return false;
    char buf[1 << 16];
    const std::size_t n = std::fread(buf, 1, sizeof buf, file_);
    if (n > 0) {
        splitter_->add(std::string_view(buf, n));
    } else {
        if (std::ferror(file_))
            throw CompileError("Cannot read file " + path_ + ": " + errorText(errno));
        splitter_->end();
        ended_ = true;
    }
    LineList fresh = splitter_->take();
    if (!fresh.empty()) {
        const std::size_t next = base_[1] + held_[1].size();
        held_[0] = std::move(held_[1]);
        base_[0] = base_[1];
        held_[1] = std::move(fresh);
        base_[1] = next;
    }
    return true;
}

bool FileSource::line(std::size_t i, std::string_view& out)
{
    while (i >= base_[1] + held_[1].size())
        if (!readMore())
            return false;
    if (i >= base_[1]) {
        out = held_[1][i - base_[1]];
        return true;
    }
    if (i >= base_[0] && i - base_[0] < held_[0].size()) {
        out = held_[0][i - base_[0]];
        return true;
    }
    throw std::logic_error("FileSource: line " + std::to_string(i) + " was asked for after later ones");
}

std::string JoinLines(const std::vector<std::string>& lines)
{
    std::size_t total = 0;
    for (const auto& l : lines)
        total += l.size() + 2;
    std::string out;
    out.reserve(total);
    for (const auto& l : lines) {
        out += l;
        out += "\r\n";
    }
    return out;
}

int WriteAll(int fd, std::string_view bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        done += std::size_t(n);
    }
    return 0;
}


namespace {

// Symbolic links followed to a file before a write gives up: the kernel's
// own limit for one path (its ELOOP).
constexpr int MaxLinkHops = 40;
// Room left in a file name for the temporary's ".tmpXXXXXX".
constexpr std::size_t TempSuffixLength = 10;

std::string folderOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// The kernel's own links to open files (/dev/stdout leads to
// /proc/self/fd/1): their text names no path to put a file beside.
constexpr std::string_view ProcFolder = "/proc/";

// The file a write to `path` lands in: `path` itself, or the end of its
// chain of symbolic links (which need not exist yet). `open` tells whether
// the chain passes a link of the kernel's to an open file. Returns 0 or an errno.
int followLinks(const std::string& path, std::string& real, bool& open)
{
    real = path;
    open = false;
    for (int hop = 0; hop <= MaxLinkHops; ++hop) {
        struct stat st {};
        if (::lstat(real.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return 0;
        open = open || real.starts_with(ProcFolder);
        std::error_code ec;
        const std::filesystem::path target = std::filesystem::read_symlink(real, ec);
        if (ec)
            return ec.value();
        real = target.is_absolute() ? target.string() : folderOf(real) + "/" + target.string();
    }
    return ELOOP;
}

// What a write to a file of this kind does.
enum class Target {
    Replace, // a regular file, or none yet: a temporary file beside it, renamed over it
    InPlace, // a device or a FIFO: written as it stands, as a shell's > would
    Refuse,  // a directory or a socket: no file can be written there
};

Target targetKind(const struct stat& st)
{
    if (S_ISREG(st.st_mode))
        return Target::Replace;
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) || S_ISFIFO(st.st_mode))
        return Target::InPlace;
    return Target::Refuse;
}

// How long a pipe is given to find its reader, and how often it is asked.
constexpr int PipeReaderWaitMs = 2000;
constexpr int PipeReaderPollMs = 10;

void writeInPlace(const std::string& path, bool append, std::string_view bytes)
{
    // A pipe without a reader would block for good: it is asked without
    // waiting, again for a moment (a reader started beside us may be late),
    // and then refused.
    const int flags = O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC | (append ? O_APPEND : 0);
    int fd = ::open(path.c_str(), flags);
    for (int waited = 0; fd < 0 && errno == ENXIO && waited < PipeReaderWaitMs; waited += PipeReaderPollMs) {
        ::usleep(PipeReaderPollMs * 1000);
        fd = ::open(path.c_str(), flags);
    }
    if (fd < 0)
        throw CompileError("Cannot write file " + path + ": " +
                           (errno == ENXIO ? std::string("no program reads from this pipe") : errorText(errno)));
    if (const int flags = ::fcntl(fd, F_GETFL); flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    int err = WriteAll(fd, bytes);
    if (::close(fd) != 0 && err == 0)
        err = errno;
    if (err != 0)
        throw CompileError("Cannot write file " + path + ": " + errorText(err));
}

// The owner of the file replaced where we may (as root), else its group
// where the user is in it. False when neither: the new file is then ours,
// as an editor's save leaves it, which is no failure of the write.
bool keepOwner(int fd, const struct stat& old)
{
    return ::fchown(fd, old.st_uid, old.st_gid) == 0 || ::fchown(fd, uid_t(-1), old.st_gid) == 0;
}

// A temporary file beside `real`, renamed over it once complete.
void replaceFile(const std::string& path, const std::string& real, const struct stat* old, std::string_view bytes)
{
    const auto fail = [&](int err) { throw CompileError("Cannot write file " + path + ": " + errorText(err)); };
    const std::string folder = folderOf(real);
    const std::string name = real.substr(real.rfind('/') == std::string::npos ? 0 : real.rfind('/') + 1);
    // Beside the target, so the rename stays on one file system; a name too
    // long to take the suffix gets a short one.
    std::string tmp = (name.size() + TempSuffixLength > NAME_MAX ? folder + "/.mirtolan" : real) + ".tmpXXXXXX";
    const int fd = ::mkstemp(tmp.data());
    if (fd < 0)
        fail(errno);
    mode_t mode = 0666;
    if (old) {
        keepOwner(fd, *old);
        mode = old->st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode &= ~mask;
    }
    // After the owner, which would clear the set-id bits.
    ::fchmod(fd, mode);
    int err = WriteAll(fd, bytes);
    if (err == 0 && ::fsync(fd) != 0)
        err = errno;
    if (::close(fd) != 0 && err == 0)
        err = errno;
    if (err == 0 && ::rename(tmp.c_str(), real.c_str()) != 0)
        err = errno;
    if (err != 0) {
        ::unlink(tmp.c_str());
        fail(err);
    }
}

} // namespace

void WriteFileSafely(const std::string& path, std::string_view bytes)
{
    std::string real;
    bool open = false;
    if (const int err = followLinks(path, real, open))
        throw CompileError("Cannot write file " + path + ": " + errorText(err));
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        replaceFile(path, real, nullptr, bytes);
        return;
    }
    switch (targetKind(st)) {
    case Target::Replace:
        // A file the caller holds open (--vcd /dev/stdout into a file) is
        // written where it is, after what the tool wrote there already.
        if (open)
            writeInPlace(path, true, bytes);
        else
            replaceFile(path, real, &st, bytes);
        return;
    case Target::InPlace: writeInPlace(path, false, bytes); return;
    case Target::Refuse: break;
    }
    throw CompileError("Cannot write file " + path + ": " +
                       (S_ISDIR(st.st_mode) ? errorText(EISDIR) : std::string("it is a socket, not a file")));
}

void WriteLinesSafely(const std::string& path, const std::vector<std::string>& lines)
{
    WriteFileSafely(path, JoinLines(lines));
}

std::string WriteTarget(const std::string& path)
{
    std::string real;
    bool open = false;
    followLinks(path, real, open); // a link that cannot be followed is where the write fails
    return real;
}

bool SameFile(const std::string& a, const std::string& b)
{
    std::error_code ec;
    if (std::filesystem::equivalent(a, b, ec))
        return true;
    return std::filesystem::absolute(a, ec).lexically_normal() == std::filesystem::absolute(b, ec).lexically_normal();
}

std::string OutputClash(const std::string& source, const std::vector<NamedOutput>& outputs)
{
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const NamedOutput& out = outputs[i];
        if (out.path.empty())
            continue;
        if (!source.empty() && source != "-" && SameFile(out.path, source))
            return "the " + out.what + " " + out.path + " would overwrite the source " + source +
                   "; rename the source or choose another output file";
        struct stat st {};
        if (::stat(out.path.c_str(), &st) == 0 && S_ISCHR(st.st_mode))
            continue;
        for (std::size_t j = 0; j < i; ++j)
            if (!outputs[j].path.empty() && SameFile(out.path, outputs[j].path))
                return "the " + outputs[j].what + " and the " + out.what + " would both be written to " + out.path +
                       ", one over the other; choose another output file";
    }
    return {};
}

} // namespace mirtolan
