#include "DiskFile.h"

#include <cerrno>
#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

#include "TextFile.h"

namespace mirtolan {

namespace {

// Each line end: its bytes and its name.
struct LineEndEntry {
    LineFormat::End end;   // which
    std::string_view bytes; // as written after a line
    const char* name;      // as the status bar says it
};
constexpr LineEndEntry LineEnds[] = {
    {LineFormat::End::CrLf, "\r\n", "CR LF"},
    {LineFormat::End::Lf, "\n", "LF"},
    {LineFormat::End::Cr, "\r", "CR"},
};

const LineEndEntry& EntryOf(LineFormat::End end) {
    for (const LineEndEntry& e : LineEnds)
        if (e.end == end) return e;
    return LineEnds[0];
}

std::string ParentOf(const std::string& path) {
    const std::string parent = std::filesystem::path(path).parent_path().string();
    return parent.empty() ? std::string(".") : parent;
}

} // namespace

LineFormat DetectLineFormat(std::string_view bytes) {
    LineFormat f;
    f.bom = bytes.substr(0, Utf8Bom.size()) == Utf8Bom;
    const std::string_view text = WithoutBom(bytes);
    std::size_t crlf = 0, lf = 0, cr = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++lf;
        } else if (text[i] == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n') {
                ++crlf;
                ++i;
            } else {
                ++cr;
            }
        }
    }
    const int kinds = (crlf > 0) + (lf > 0) + (cr > 0);
    if (kinds == 0) {
        f.finalEnd = false; // one line and no end: it stays so
        return f;
    }
    if (kinds > 1) return f; // mixed: CR LF after every line, as a new file
    f.end = lf ? LineFormat::End::Lf : cr ? LineFormat::End::Cr : LineFormat::End::CrLf;
    f.finalEnd = text.back() == '\n' || text.back() == '\r';
    return f;
}

std::string_view WithoutBom(std::string_view bytes) {
    return bytes.substr(0, Utf8Bom.size()) == Utf8Bom ? bytes.substr(Utf8Bom.size()) : bytes;
}

std::string FormatLines(const std::vector<std::string>& lines, const LineFormat& format) {
    const std::string_view end = EntryOf(format.end).bytes;
    std::size_t size = format.bom ? Utf8Bom.size() : 0;
    for (const std::string& l : lines) size += l.size() + end.size();
    std::string out;
    out.reserve(size);
    if (format.bom) out += Utf8Bom;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        out += lines[i];
        if (i + 1 < lines.size() || format.finalEnd) out += end;
    }
    return out;
}

const char* LineEndName(LineFormat::End end) { return EntryOf(end).name; }

bool IsReadOnlyFile(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    return (st.st_mode & 0222) == 0 || ::euidaccess(path.c_str(), W_OK) != 0;
}

std::string FolderRefusal(const std::string& path) {
    const std::string target = WriteTarget(path);
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return {};
    const std::string folder = ParentOf(target);
    if (::euidaccess(folder.c_str(), W_OK | X_OK) == 0) return {};
    const int err = errno;
    if (err == EROFS)
        return "The folder " + folder + " lies on a read-only file system, so nothing in it can be saved. "
               "Save the source elsewhere with File > Save As.";
    if (err == ENOENT || err == ENOTDIR)
        return "The folder " + folder + " does not exist (any more). Save the source elsewhere with File > Save As.";
    return "The folder " + folder + " does not let you create files, and a safe save writes the new text to a "
           "file beside the old one and then renames it over it, so the old file is never half written. "
           "Save the source elsewhere with File > Save As, or make the folder writable (chmod u+w '" + folder +
           "', or ask its owner).";
}

std::uint64_t FingerprintOf(std::string_view bytes) { return std::hash<std::string_view>{}(bytes); }

std::optional<std::uint64_t> Fingerprint(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    try {
        return FingerprintOf(ReadFileBytes(path));
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace mirtolan
