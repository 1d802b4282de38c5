// The source file as the disk holds it: its line ends and byte order mark,
// so that a save gives them back; whether a save may replace it; writing it
// without losing a link, a device, a mode or a group; a fingerprint to see
// that another program changed it; and the window's private scratch folder.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mirtolan {

// How a file ends its lines.
struct LineFormat {
    enum class End { CrLf, Lf, Cr };
    End end = End::CrLf;  // written after every line (but the last, without finalEnd)
    bool finalEnd = true; // the last line is followed by a line end too
    bool bom = false;     // the file begins with a UTF-8 byte order mark
};

inline constexpr std::string_view Utf8Bom = "\xEF\xBB\xBF";

// The format of a file's bytes. A file that mixes line ends is written with
// CR LF after every line, as a new file is; a file without a single line end
// keeps having none after its last line.
LineFormat DetectLineFormat(std::string_view bytes);
// `bytes` without a leading byte order mark.
std::string_view WithoutBom(std::string_view bytes);
// The lines as the file holds them in `format`.
std::string FormatLines(const std::vector<std::string>& lines, const LineFormat& format);
// "CR LF", "LF" or "CR".
const char* LineEndName(LineFormat::End end);

// A regular file that the user cannot write, or that has no write permission
// for anyone (which root may write, but an editor asks first).
bool IsReadOnlyFile(const std::string& path);
// Why a safe save of `path` cannot make its new file beside it (the folder
// may not be written, or lies on a read-only file system), with the remedy;
// empty when it can, or when `path` is no regular file (written in place).
std::string FolderRefusal(const std::string& path);

// Writes `bytes` as the user's file at `path`. A symbolic link stays and the
// file it leads to gets the bytes; a device or a pipe is written in place; a
// folder is refused; a regular file is replaced safely (a temporary file
// beside it, then a rename), keeping its mode and, where the user may, its
// group. Throws CompileError naming the file when it cannot.
void WriteUserFile(const std::string& path, std::string_view bytes);

// The content of a regular file, as a number that changes when the bytes
// do; nothing when it is missing, unreadable or no regular file.
std::optional<std::uint64_t> Fingerprint(const std::string& path);
std::uint64_t FingerprintOf(std::string_view bytes);

// A folder only this user may enter (mkdtemp, mode 0700), made on first use
// and removed with everything in it when the owner goes: scratch files of one
// window never meet another's or another user's.
class ScratchFolder {
public:
    ScratchFolder() = default;
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // Its path, making it under `tempDir` when there is none yet; throws
    // CompileError when it cannot be made.
    const std::string& path(const std::string& tempDir);
    // Its path, or empty before it is made.
    const std::string& made() const { return path_; }

private:
    std::string path_; // the folder, once made
};

} // namespace mirtolan
