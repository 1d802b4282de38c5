#include "TextFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Compiler.h"

namespace mirtolan {

// Calls `line` with each line of the text, split at CR LF, LF or CR.
template <class Line>
static void forEachLine(std::string_view text, Line line)
{
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char ch = text[i];
        if (ch != '\r' && ch != '\n')
            continue;
        line(text.substr(start, i - start));
        if (ch == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        line(text.substr(start));
}

std::vector<std::string> SplitLines(std::string_view text)
{
    std::vector<std::string> lines;
    forEachLine(text, [&](std::string_view l) { lines.emplace_back(l); });
    return lines;
}

LineList SplitLineList(std::string_view text)
{
    LineList lines;
    forEachLine(text, [&](std::string_view l) { lines.push_back(l); });
    return lines;
}

static std::string errorText(int err) { return std::strerror(err); }

std::string ReadFileBytes(const std::string& path)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        throw CompileError("Cannot open file " + path + ": " + errorText(errno));
    std::string bytes;
    // Reading into room of the right size spares the copies of a growing string.
    struct stat st {};
    if (::fstat(::fileno(f), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
        bytes.reserve(std::size_t(st.st_size));
    char buf[1 << 16];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        bytes.append(buf, n);
    const bool failed = std::ferror(f) != 0;
    const int err = errno;
    std::fclose(f);
    if (failed)
        throw CompileError("Cannot read file " + path + ": " + errorText(err));
    return bytes;
}

std::vector<std::string> ReadLines(const std::string& path) { return SplitLines(ReadFileBytes(path)); }

LineList ReadLineList(const std::string& path) { return SplitLineList(ReadFileBytes(path)); }

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

void WriteFileSafely(const std::string& path, std::string_view bytes)
{
    const auto fail = [&](int err) { throw CompileError("Cannot write file " + path + ": " + errorText(err)); };
    // The temporary file lies beside the target so the rename stays on one file system.
    std::string tmp = path + ".tmpXXXXXX";
    const int fd = ::mkstemp(tmp.data());
    if (fd < 0)
        fail(errno);
    // Keep the permissions of the file being replaced; a new file gets the usual ones.
    struct stat st {};
    mode_t mode = 0666;
    if (::stat(path.c_str(), &st) == 0)
        mode = st.st_mode & 07777;
    else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode &= ~mask;
    }
    ::fchmod(fd, mode);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            ::close(fd);
            ::unlink(tmp.c_str());
            fail(err);
        }
        done += std::size_t(n);
    }
    const bool synced = ::fsync(fd) == 0;
    const int syncErr = errno;
    if (::close(fd) != 0 || !synced) {
        const int err = synced ? errno : syncErr;
        ::unlink(tmp.c_str());
        fail(err);
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        fail(err);
    }
}

void WriteLinesSafely(const std::string& path, const std::vector<std::string>& lines)
{
    WriteFileSafely(path, JoinLines(lines));
}

} // namespace mirtolan
