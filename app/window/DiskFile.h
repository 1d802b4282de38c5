// The source file as the disk holds it: its line ends and byte order mark,
// so that a save gives them back; whether a save may replace it; and a
// fingerprint to see that another program changed it. Writing it goes
// through the library's safe write, which keeps links, devices, modes and
// groups.
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

// The content of a regular file, as a number that changes when the bytes
// do; nothing when it is missing, unreadable or no regular file.
std::optional<std::uint64_t> Fingerprint(const std::string& path);
std::uint64_t FingerprintOf(std::string_view bytes);


} // namespace mirtolan
