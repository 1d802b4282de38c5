// Line lists for the generated code and the listing: one text buffer that
// holds every line followed by CR LF (exactly the bytes of the .asm file)
// and the start of each line. Keeping the text in one buffer spares a
// listing of many short lines an allocation per line, and the file is
// written from it without joining anything.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "LineMap.h"

namespace mirtolan {

// Upper-cases the ASCII letters a to z and nothing else.
std::string FoldCase(std::string_view s);

// Upper-cases one ASCII letter a to z; every other character stays.
inline char FoldChar(char ch) { return (ch >= 'a' && ch <= 'z') ? char(ch - 'a' + 'A') : ch; }

// Whole-line comparison that ignores the case of a to z only. Inline: the
// lookups and the label filter call it for nearly every word and line.
inline bool SameIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldChar(a[i]) != FoldChar(b[i]))
            return false;
    return true;
}

// Hashes the text with a to z folded to upper case.
std::uint64_t FoldedHash(std::string_view s);

class LineList {
public:
    // Line starts are 32-bit, which bounds the text of one list; a compile
    // whose listing would grow past it is abandoned with a CompileError.
    static constexpr std::size_t MaxTextBytes = UINT32_MAX;

    LineList() = default;
    LineList(std::initializer_list<std::string_view> lines);
    LineList(const std::vector<std::string>& lines);
    LineList& operator=(std::initializer_list<std::string_view> lines);

    void push_back(std::string_view line);
    // Appends one line made of `pieces`, without building it first.
    void push_back(std::initializer_list<std::string_view> pieces);
    void emplace_back(std::string_view line) { push_back(line); }
    // Replaces the last line (which must exist).
    void replaceBack(std::string_view line);
    // Puts `line` before line `i` (at the end when `i` is the size).
    void insert(std::size_t i, std::string_view line);
    // Puts the lines of `front` before the current ones.
    void prepend(const LineList& front);
    // Keeps the first `lines` lines and drops the rest.
    void truncate(std::size_t lines);
    void clear();

    std::size_t size() const { return starts_.size(); }
    bool empty() const { return starts_.empty(); }
    std::string_view operator[](std::size_t i) const;
    std::string_view back() const { return (*this)[size() - 1]; }
    // Every line followed by CR LF: the bytes of the file.
    std::string_view text() const { return text_; }
    // Where line `i` begins in text().
    std::size_t startOf(std::size_t i) const { return starts_[i]; }
    // Makes room for text of `bytes` bytes in `lines` lines.
    void reserve(std::size_t bytes, std::size_t lines);

    std::vector<std::string> lines() const;
    operator std::vector<std::string>() const { return lines(); }

    // Rewrites every line from `first` on through `rewrite(line, out)`, which
    // returns true and fills `out` (given empty) when the line changes.
    using Rewriter = std::function<bool(std::string_view line, std::string& out)>;
    void rewriteAll(const Rewriter& rewrite, std::size_t first = 0);

    class const_iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = std::string_view;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = std::string_view;
        const_iterator(const LineList* l, std::size_t i) : list_(l), i_(i) {}
        std::string_view operator*() const { return (*list_)[i_]; }
        const_iterator& operator++()
        {
            ++i_;
            return *this;
        }
        const_iterator operator++(int)
        {
            auto old = *this;
            ++i_;
            return old;
        }
        bool operator==(const const_iterator& o) const { return i_ == o.i_; }
        bool operator!=(const const_iterator& o) const { return i_ != o.i_; }

    private:
        const LineList* list_; // the list walked
        std::size_t i_;        // the line it stands on
    };
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, size()}; }

    friend bool operator==(const LineList& a, const LineList& b);
    friend bool operator==(const LineList& a, const std::vector<std::string>& b);

private:
    void checkRoom(std::size_t more) const;
    void rewriteCopying(const Rewriter& rewrite, std::size_t first);

    std::string text_;                  // every line followed by CR LF
    std::vector<std::uint32_t> starts_; // where each line begins in text_
};

// A code list of a compile: a line list and, beside it, an index of its
// label lines, so that "is NAME: a line of this list" costs one hash lookup
// instead of a scan over the whole list.
class CodeList {
public:
    void push_back(std::string_view line);
    void push_back(std::initializer_list<std::string_view> pieces);
    void replaceBack(std::string_view line);
    // Takes back every line from `lines` on, with their labels and origins.
    void truncate(std::size_t lines);
    void clear();
    // Makes room for text of `bytes` bytes.
    void reserve(std::size_t bytes) { lines_.reserve(bytes, bytes / 16); }
    // From now on every appended line is noted in `map` (until the next clear).
    void mapTo(LineMap* map) { map_ = map; }

    // True when some line equals `line` ignoring the case of a to z. Only
    // lines that end in ":" are indexed, so `line` must end in ":".
    bool containsLabel(std::string_view line) const;

    std::string_view back() const { return lines_.back(); }
    std::size_t size() const { return lines_.size(); }
    bool empty() const { return lines_.empty(); }
    std::string operator[](std::size_t i) const { return std::string(lines_[i]); }
    std::vector<std::string> lines() const { return lines_.lines(); }
    const LineList& list() const { return lines_; }
    // Hands the lines over and leaves this list empty.
    LineList take();

private:
    struct Slot {
        std::uint32_t start = 0;  // where the label begins in the list's text
        std::uint32_t length = 0; // its length, plus 1; 0 marks a free slot
        std::uint32_t hash = 0;   // low half of the label's hash, to skip most comparisons
    };
    // The labels "_L<n>:" and "_LC<n>:" that the control words make
    // outnumber the names of words two to one: they are kept as bits by
    // number, which costs no hashing and stays small enough for the cache.
    struct ControlLabel {
        int kind = 0;            // 0 for "_L", 1 for "_LC"
        std::size_t number = 0;  // n
    };
    bool controlLabel(std::string_view label, ControlLabel& out) const;
    std::size_t findSlot(std::string_view label, std::uint32_t hash) const;
    void grow();
    void index(std::size_t line);
    void unindex(std::size_t line);
    void removeSlot(std::size_t slot);

    LineList lines_;          // the lines
    std::vector<bool> control_[2]; // bit n of each kind: a line is that control label
    std::vector<Slot> slots_; // open addressing, linear probing; size a power of 2
    std::size_t used_ = 0;    // occupied slots
    // The line whose label is the newest entry, so that replacing the last
    // line can take back exactly what it added; SIZE_MAX for none.
    std::size_t newest_ = SIZE_MAX;
    LineMap* map_ = nullptr;  // notes where appended lines came from; null when nobody asked
};

} // namespace mirtolan
