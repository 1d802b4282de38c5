// The window's settings file: an INI text of "[Section]" lines and
// "key=value" lines, kept as the lines of the file so that writing it back
// changes only the keys we own and leaves every other line where it stood.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mirtolan {

// Reads an integer the way the settings file writes it: decimal, or
// hexadecimal after "$", "0x" or "0X", with an optional sign and blanks
// around it. Anything else, or a value outside 32 bits, gives nothing.
std::optional<std::int32_t> ParseIniInteger(std::string_view text);

class IniFile {
public:
    // Loads `path`; a file that does not exist gives an empty settings file.
    // Throws CompileError when the file exists but cannot be read.
    void Load(const std::string& path);
    // Writes the lines safely (temporary file, then rename; through a
    // symbolic link to the file it leads to), creating the directory when it
    // is missing. Throws CompileError on failure.
    void Save(const std::string& path) const;

    // Section and key names are matched without regard to the case of a-z.
    // The first matching key of the first matching section wins.
    std::optional<std::string> Find(std::string_view section, std::string_view key) const;
    // A present key with an empty value gives empty text, not the default.
    std::string ReadString(std::string_view section, std::string_view key, const std::string& def) const;
    // A value that is not a number gives the default.
    std::int32_t ReadInteger(std::string_view section, std::string_view key, std::int32_t def) const;
    // Read as an integer; any number but 0 is on.
    bool ReadBool(std::string_view section, std::string_view key, bool def) const;

    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, std::int32_t value);
    void WriteBool(std::string_view section, std::string_view key, bool value);
    // Removes every "key=value" line of `section` (comments and foreign
    // lines in it stay), so a list can be written afresh.
    void EraseKeys(std::string_view section);

    const std::vector<std::string>& Lines() const { return lines_; }
    void SetLines(std::vector<std::string> lines) { lines_ = std::move(lines); }

private:
    struct KeyLine {
        std::string key;
        std::string value;
    };
    static std::optional<std::string> SectionName(std::string_view line);
    static std::optional<KeyLine> SplitKeyLine(std::string_view line);
    // Index of the first line opening `section`, or nothing.
    std::optional<std::size_t> SectionStart(std::string_view section) const;
    // One past the last line that belongs to the section opened at `start`.
    std::size_t SectionEnd(std::size_t start) const;

    std::vector<std::string> lines_;
};

// Where the settings file lies: "<name>.INI" beside the executable when that
// directory already holds it or can be written; otherwise the same name in
// the user's configuration directory ($XDG_CONFIG_HOME/mirtolan, else
// ~/.config/mirtolan), since an installed program cannot write into a system
// directory and would otherwise never remember a setting.
struct SettingsPlace {
    std::string exeDir;        // directory of the executable
    std::string exeName;       // file name of the executable, e.g. "mirtolan"
    std::string xdgConfigHome; // value of XDG_CONFIG_HOME, may be empty
    std::string home;          // value of HOME, may be empty
};
std::string SettingsFileName(const std::string& exeName);
std::string SettingsFilePath(const SettingsPlace& place);

} // namespace mirtolan
