// An ordered list of assembler lines with a case-folded index of its label
// lines, so that "is NAME: a line of this list" costs one hash lookup instead
// of a scan over the whole list.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace mirtolan {

// Upper-cases the ASCII letters a to z and nothing else.
std::string FoldCase(std::string_view s);

// Whole-line comparison that ignores the case of a to z only.
bool SameIgnoringCase(std::string_view a, std::string_view b);

class CodeList {
public:
    void push_back(std::string line);
    // Replaces line `i`, keeping the index true.
    void replace(std::size_t i, std::string line);
    void assign(std::vector<std::string> lines);
    void clear();

    // True when some line equals `line` ignoring the case of a to z. Only lines
    // that end in ":" are indexed, so `line` must end in ":".
    bool containsLabel(std::string_view line) const;

    const std::string& back() const { return lines_.back(); }
    const std::string& operator[](std::size_t i) const { return lines_[i]; }
    std::size_t size() const { return lines_.size(); }
    bool empty() const { return lines_.empty(); }
    const std::vector<std::string>& lines() const { return lines_; }

private:
    void add(const std::string& line);
    void remove(const std::string& line);

    std::vector<std::string> lines_;
    // Folded label line -> how many lines of the list fold to it.
    std::unordered_map<std::string, std::size_t> labels_;
};

} // namespace mirtolan
