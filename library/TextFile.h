// Text files as lists of 8-bit lines: read with CR LF, LF or CR line ends,
// written with CR LF after every line, and always written safely.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "CodeList.h"
#include "Compiler.h"

namespace mirtolan {

// Splits text at CR LF, LF or CR. A line end at the very end adds no empty line.
std::vector<std::string> SplitLines(std::string_view text);

// Reads a whole file; throws CompileError naming the file when it cannot.
std::string ReadFileBytes(const std::string& path);
std::vector<std::string> ReadLines(const std::string& path);

// The same split into a compact line list.
LineList SplitLineList(std::string_view text);

class LineSplitter;

// A source file read block by block as the compile asks for its lines, so
// that only the lines around the one being compiled are held in memory.
class FileSource final : public SourceText {
public:
    // Throws CompileError naming the file when it cannot be opened.
    explicit FileSource(const std::string& path);
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;
    // Throws CompileError naming the file when reading fails.
    bool line(std::size_t i, std::string_view& out) override;
    std::size_t bytes() const override { return size_; }

private:
    // Reads one more block; false when the file had already ended.
    bool readMore();

    std::string path_;
    std::FILE* file_ = nullptr;
    std::unique_ptr<LineSplitter> splitter_; // splits the blocks, carrying a line over from one to the next
    // The newest lines read ([1]) and those read before them ([0]), which the
    // compile may still step back into; base_ is the number of each one's first line.
    LineList held_[2];
    std::size_t base_[2] = {0, 0};
    bool ended_ = false; // the end of the file has been read
    std::size_t size_ = 0; // the file's size when it was opened
};

// True when both names lead to one file, so writing one would replace the other.
bool SameFile(const std::string& a, const std::string& b);

// A file that a run writes, by what it holds.
struct NamedOutput {
    std::string what; // "listing", ".hex", "VCD file"
    std::string path; // where it goes; empty: not written
};
// Why the outputs cannot all be written: the first that would overwrite the
// source, or that is another output's file too, in words with the remedy.
// Empty when each has a file of its own. A character device (/dev/null)
// takes any number of outputs.
std::string OutputClash(const std::string& source, const std::vector<NamedOutput>& outputs);

// Joins the lines, each followed by CR LF.
std::string JoinLines(const std::vector<std::string>& lines);

// Writes `bytes` to `path` so that a failed write never leaves a half file
// or destroys the old one, and throws CompileError naming the file on failure.
// A regular file (or none yet) is replaced: a temporary file beside it is
// written, synced and renamed over it, keeping the old file's mode and,
// where the user may, its owner and group. A symbolic link stays a link:
// the file at the end of it is replaced, with the temporary beside that
// file. A device or a FIFO is written in place, as a shell's > would, and so
// is a file reached through the kernel's links to open files (/dev/stdout);
// a directory or a socket is refused.
void WriteFileSafely(const std::string& path, std::string_view bytes);
void WriteLinesSafely(const std::string& path, const std::vector<std::string>& lines);
// The file WriteFileSafely writes for `path`: the end of its chain of
// symbolic links (which need not exist yet), or `path` when it is no link.
std::string WriteTarget(const std::string& path);

// Writes all of `bytes` to the open file; returns 0, or the errno of the failure.
int WriteAll(int fd, std::string_view bytes);

} // namespace mirtolan
