#include "Settings.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "CodeList.h"
#include "Compiler.h"
#include "TextFile.h"

namespace mirtolan {

namespace {

// A 32-bit value has at most 10 decimal or 8 hexadecimal digits; capping the
// digits keeps the accumulator far from overflow for any input length.
constexpr std::size_t MaxDecimalDigits = 10;
constexpr std::size_t MaxHexDigits = 8;

bool IsBlank(char ch) { return ch == ' ' || ch == '\t'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

int HexDigit(char ch) {
    if (ch >= '0' && ch <= '9') return ch - '0';
    if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
    return -1;
}

} // namespace

std::optional<std::int32_t> ParseIniInteger(std::string_view text) {
    std::string_view s = Trim(text);
    bool negative = false;
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    bool hex = false;
    if (!s.empty() && s.front() == '$') {
        hex = true;
        s.remove_prefix(1);
    } else if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        hex = true;
        s.remove_prefix(2);
    }
    while (s.size() > 1 && s.front() == '0') s.remove_prefix(1); // leading zeros do not count against the limit
    if (s.empty() || s.size() > (hex ? MaxHexDigits : MaxDecimalDigits)) return std::nullopt;
    std::uint64_t value = 0;
    for (char ch : s) {
        int d = hex ? HexDigit(ch) : (ch >= '0' && ch <= '9' ? ch - '0' : -1);
        if (d < 0) return std::nullopt;
        value = value * (hex ? 16 : 10) + static_cast<unsigned>(d);
    }
    if (hex) {
        // Hexadecimal spells the 32-bit pattern, so $FFFFFFFF is -1.
        auto bits = static_cast<std::uint32_t>(value);
        if (negative) bits = 0u - bits;
        return static_cast<std::int32_t>(bits);
    }
    constexpr std::uint64_t MaxPositive = 2147483647u;
    if (value > MaxPositive + (negative ? 1 : 0)) return std::nullopt;
    auto signedValue = static_cast<std::int64_t>(value);
    return static_cast<std::int32_t>(negative ? -signedValue : signedValue);
}

void IniFile::Load(const std::string& path) {
    lines_.clear();
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return;
    lines_ = ReadLines(path);
}

void IniFile::Save(const std::string& path) const {
    std::filesystem::path dir = std::filesystem::path(path).parent_path();
    if (!dir.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(dir, ec); // a failure shows up as the write's own error
    }
    WriteLinesSafely(path, lines_);
}

std::optional<std::string> IniFile::SectionName(std::string_view line) {
    std::string_view s = Trim(line);
    if (s.size() < 2 || s.front() != '[') return std::nullopt;
    auto close = s.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return std::string(Trim(s.substr(1, close - 1)));
}

std::optional<IniFile::KeyLine> IniFile::SplitKeyLine(std::string_view line) {
    std::string_view s = Trim(line);
    if (s.empty() || s.front() == ';' || s.front() == '[') return std::nullopt;
    auto eq = line.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    std::string_view key = Trim(line.substr(0, eq));
    if (key.empty()) return std::nullopt;
    return KeyLine{std::string(key), std::string(line.substr(eq + 1))};
}

std::optional<std::size_t> IniFile::SectionStart(std::string_view section) const {
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        auto name = SectionName(lines_[i]);
        if (name && SameIgnoringCase(*name, section)) return i;
    }
    return std::nullopt;
}

std::size_t IniFile::SectionEnd(std::size_t start) const {
    std::size_t i = start + 1;
    while (i < lines_.size() && !SectionName(lines_[i])) ++i;
    return i;
}

std::optional<std::string> IniFile::Find(std::string_view section, std::string_view key) const {
    auto start = SectionStart(section);
    if (!start) return std::nullopt;
    std::size_t end = SectionEnd(*start);
    for (std::size_t i = *start + 1; i < end; ++i) {
        auto kv = SplitKeyLine(lines_[i]);
        if (kv && SameIgnoringCase(kv->key, key)) return kv->value;
    }
    return std::nullopt;
}

std::string IniFile::ReadString(std::string_view section, std::string_view key, const std::string& def) const {
    auto v = Find(section, key);
    return v ? *v : def;
}

std::int32_t IniFile::ReadInteger(std::string_view section, std::string_view key, std::int32_t def) const {
    auto v = Find(section, key);
    if (!v) return def;
    return ParseIniInteger(*v).value_or(def);
}

bool IniFile::ReadBool(std::string_view section, std::string_view key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    std::string line = std::string(key) + "=" + std::string(value);
    auto start = SectionStart(section);
    if (!start) {
        lines_.push_back("[" + std::string(section) + "]");
        lines_.push_back(std::move(line));
        return;
    }
    std::size_t end = SectionEnd(*start);
    std::size_t insertAt = *start + 1; // after the last non-empty line, so a blank separator stays below
    for (std::size_t i = *start + 1; i < end; ++i) {
        auto kv = SplitKeyLine(lines_[i]);
        if (kv && SameIgnoringCase(kv->key, key)) {
            lines_[i] = std::move(line);
            return;
        }
        if (!Trim(lines_[i]).empty()) insertAt = i + 1;
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(line));
}

void IniFile::WriteInteger(std::string_view section, std::string_view key, std::int32_t value) {
    WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

void IniFile::EraseKeys(std::string_view section) {
    auto start = SectionStart(section);
    if (!start) return;
    std::size_t end = SectionEnd(*start);
    std::vector<std::string> kept(lines_.begin(), lines_.begin() + static_cast<std::ptrdiff_t>(*start + 1));
    for (std::size_t i = *start + 1; i < end; ++i)
        if (!SplitKeyLine(lines_[i])) kept.push_back(lines_[i]);
    kept.insert(kept.end(), lines_.begin() + static_cast<std::ptrdiff_t>(end), lines_.end());
    lines_ = std::move(kept);
}

std::string SettingsFileName(const std::string& exeName) {
    std::string base = std::filesystem::path(exeName).stem().string();
    if (base.empty()) base = "mirtolan";
    return base + ".INI";
}

std::string SettingsFilePath(const SettingsPlace& place) {
    const std::string name = SettingsFileName(place.exeName);
    std::filesystem::path beside = std::filesystem::path(place.exeDir) / name;
    std::error_code ec;
    if (!place.exeDir.empty() &&
        (std::filesystem::exists(beside, ec) || ::access(place.exeDir.c_str(), W_OK) == 0))
        return beside.string();
    std::filesystem::path config;
    if (!place.xdgConfigHome.empty() && place.xdgConfigHome.front() == '/') // relative values are to be ignored
        config = place.xdgConfigHome;
    else if (!place.home.empty())
        config = std::filesystem::path(place.home) / ".config";
    else
        return beside.string(); // nowhere else to go: the write at close reports the failure
    return (config / "mirtolan" / name).string();
}

} // namespace mirtolan
