#include "ForthWords.h"

#include <array>
#include <optional>
#include <set>
#include <string_view>

namespace mirtolan {

namespace {

bool IsBlank(QChar ch) { return ch.unicode() <= 32; }

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= 32) s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32) s.remove_suffix(1);
    return s;
}

// The first "( ... -- ... )" inside the comments of a body line.
std::optional<std::string> StackComment(std::string_view line) {
    const auto semi = line.find(';');
    if (semi == std::string_view::npos) return std::nullopt;
    const std::string_view comment = line.substr(semi + 1);
    const auto open = comment.find("( ");
    if (open == std::string_view::npos) return std::nullopt;
    const auto close = comment.find(')', open);
    if (close == std::string_view::npos) return std::nullopt;
    const std::string_view effect = comment.substr(open, close - open + 1);
    if (effect.find("--") == std::string_view::npos) return std::nullopt;
    return std::string(effect);
}

// The role of each control word in its structure.
enum class Role { Opens, Middle, Closes };
struct ControlWord {
    const char* word;   // upper case, as the compiler compares it
    Role role;          // whether it opens, continues or closes its structure
    const char* family; // the word that opens its structure
};
constexpr std::array<ControlWord, 18> ControlWords = {{
    {":", Role::Opens, ":"},          {";", Role::Closes, ":"},
    {"IF", Role::Opens, "IF"},        {"ELSE", Role::Middle, "IF"},       {"THEN", Role::Closes, "IF"},
    {"BEGIN", Role::Opens, "BEGIN"},  {"WHILE", Role::Middle, "BEGIN"},   {"UNTIL", Role::Closes, "BEGIN"},
    {"AGAIN", Role::Closes, "BEGIN"}, {"REPEAT", Role::Closes, "BEGIN"},
    {"DO", Role::Opens, "DO"},        {"LOOP", Role::Closes, "DO"},       {"+LOOP", Role::Closes, "DO"},
    {"?DO", Role::Opens, "DO"},
    {"CASE", Role::Opens, "CASE"},    {"OF", Role::Middle, "CASE"},       {"ENDOF", Role::Middle, "CASE"},
    {"ENDCASE", Role::Closes, "CASE"},
}};
// DEFAULT belongs to its CASE as well; kept apart so the table above stays one row per word.
constexpr ControlWord DefaultWord = {"DEFAULT", Role::Middle, "CASE"};

const ControlWord* FindControl(const QString& word) {
    const QString upper = word.toUpper();
    for (const ControlWord& c : ControlWords)
        if (upper == QLatin1String(c.word)) return &c;
    if (upper == QLatin1String(DefaultWord.word)) return &DefaultWord;
    return nullptr;
}

QString TextOf(const std::vector<QString>& lines, const WordSpan& w) {
    return lines[static_cast<std::size_t>(w.line)].mid(w.column, w.length);
}

} // namespace

std::vector<ArchiveWord> ArchiveWords(const Archive& archive) {
    std::vector<ArchiveWord> out;
    const std::vector<std::string>& lines = archive.ArchiveList;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& l = lines[i];
        if (l.size() < 3 || l.compare(0, 3, "$$ ") != 0) continue;
        const std::string_view name = Trimmed(std::string_view(l).substr(3));
        if (name.empty() || name.front() == '_') continue;
        ArchiveWord w{std::string(name), {}};
        if (i > 0) {
            const std::string_view line = lines[i - 1];
            const std::string_view doc = line.size() > 2 && line.compare(0, 2, "$ ") == 0
                                             ? Trimmed(line.substr(2))
                                             : std::string_view();
            if (!doc.empty() && doc.front() == '(') {
                w.stackEffect = std::string(doc);
                out.push_back(std::move(w));
                continue;
            }
        }
        for (std::size_t j = i + 1; j < lines.size() && (lines[j].empty() || lines[j][0] != '$'); ++j)
            if (std::optional<std::string> effect = StackComment(lines[j])) {
                w.stackEffect = *effect;
                break;
            }
        out.push_back(std::move(w));
    }
    return out;
}

std::vector<WordSpan> CodeWords(const std::vector<QString>& lines) {
    std::vector<WordSpan> out;
    bool inParen = false;
    for (std::size_t li = 0; li < lines.size(); ++li) {
        const QString& text = lines[li];
        const qsizetype n = text.size();
        qsizetype pos = 0;
        if (inParen) {
            const qsizetype close = text.indexOf(QLatin1Char(')'));
            if (close < 0) continue;
            inParen = false;
            pos = close + 1;
        } else if (text.startsWith(QLatin1Char('$'))) {
            continue; // an assembler line
        }
        while (pos < n) {
            while (pos < n && IsBlank(text[pos])) ++pos;
            const qsizetype start = pos;
            while (pos < n && !IsBlank(text[pos])) ++pos;
            if (pos == start) break;
            const QStringView word = QStringView(text).mid(start, pos - start);
            if (word == QLatin1String("\\\\") || word == QLatin1String("$")) break;
            if (word == QLatin1String("(")) {
                const qsizetype close = text.indexOf(QLatin1Char(')'), pos);
                if (close < 0) {
                    inParen = true;
                    break;
                }
                pos = close + 1;
                continue;
            }
            out.push_back({static_cast<int>(li), static_cast<int>(start), static_cast<int>(pos - start)});
        }
    }
    return out;
}

std::vector<QString> DefinedWords(const std::vector<QString>& lines) {
    std::vector<QString> out;
    std::set<QString> seen;
    auto add = [&](const QString& name) {
        if (!name.isEmpty() && seen.insert(name).second) out.push_back(name);
    };
    for (const QString& l : lines)
        if (l.startsWith(QLatin1Char('$')) && l.trimmed().endsWith(QLatin1Char(':')) && l.size() > 2) {
            const QString label = l.mid(1).trimmed();
            if (!label.contains(QLatin1Char(' ')) && !label.contains(QLatin1Char('\t'))) add(label.chopped(1));
        }
    const std::vector<WordSpan> words = CodeWords(lines);
    for (std::size_t i = 0; i + 1 < words.size(); ++i) {
        const QString w = TextOf(lines, words[i]).toUpper();
        if (w == QLatin1String(":") || w == QLatin1String("VARIABLE") || w == QLatin1String("CONSTANT"))
            add(TextOf(lines, words[i + 1]));
    }
    return out;
}

std::vector<WordSpan> MatchingControlWords(const std::vector<QString>& lines, int line, int column) {
    const std::vector<WordSpan> words = CodeWords(lines);
    // Pair the control words with a stack of open structures; each word
    // gets the number of its structure.
    std::vector<int> group(words.size(), -1);
    std::vector<std::pair<const ControlWord*, int>> open; // opener and its group
    int groups = 0;
    std::optional<std::size_t> target;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const WordSpan& w = words[i];
        if (w.line == line && column >= w.column && column <= w.column + w.length) target = i;
        const ControlWord* c = FindControl(TextOf(lines, w));
        if (!c) continue;
        const QLatin1String family(c->family);
        if (c->role == Role::Opens) {
            if (family == QLatin1String(":")) open.clear(); // a new definition ends whatever was left open
            group[i] = groups;
            open.emplace_back(c, groups++);
            continue;
        }
        // The innermost open structure of the same family; a closer
        // skips over nothing, so a wrong nesting stays unmatched.
        if (!open.empty() && QLatin1String(open.back().first->family) == family) {
            group[i] = open.back().second;
            if (c->role == Role::Closes) open.pop_back();
        } else if (family == QLatin1String(":") && !open.empty() && QLatin1String(open.front().first->family) == family) {
            group[i] = open.front().second; // ";" closes the definition even when something inside is open
            open.clear();
        }
    }
    if (!target || !FindControl(TextOf(lines, words[*target]))) return {};
    if (group[*target] < 0) return {words[*target]};
    std::vector<WordSpan> out;
    for (std::size_t i = 0; i < words.size(); ++i)
        if (group[i] == group[*target]) out.push_back(words[i]);
    return out;
}

} // namespace mirtolan
