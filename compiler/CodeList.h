// Line lists for the generated code and the listing, stored compactly: one
// text buffer that holds every line followed by CR LF (exactly the bytes of
// the .asm file) and the start of each line. A listing of a large program has
// millions of short lines; as separate strings they would take five times the
// memory of their text, and joining them for the file would copy them again.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
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

// Memory for PodBuffer. Large blocks are mapped from the system directly, so
// that growing one remaps its pages instead of copying them: the heap would
// copy, and for a moment hold the old and the new block at once.
// GrowBlock returns null when there is no memory; the old block then stays.
void* GrowBlock(void* old, std::size_t oldBytes, std::size_t newBytes);
void FreeBlock(void* p, std::size_t bytes);

// A growable array of plain values in memory from GrowBlock.
template <class T>
class PodBuffer {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    PodBuffer() = default;
    PodBuffer(const PodBuffer& o) { append(o.data_, o.size_); }
    PodBuffer(PodBuffer&& o) noexcept : data_(o.data_), size_(o.size_), capacity_(o.capacity_)
    {
        o.data_ = nullptr;
        o.size_ = o.capacity_ = 0;
    }
    PodBuffer& operator=(PodBuffer o) noexcept
    {
        swap(o);
        return *this;
    }
    ~PodBuffer() { FreeBlock(data_, capacity_ * sizeof(T)); }

    void swap(PodBuffer& o) noexcept
    {
        std::swap(data_, o.data_);
        std::swap(size_, o.size_);
        std::swap(capacity_, o.capacity_);
    }
    T* data() { return data_; }
    const T* data() const { return data_; }
    std::size_t size() const { return size_; }
    T& operator[](std::size_t i) { return data_[i]; }
    const T& operator[](std::size_t i) const { return data_[i]; }

    // Makes room for `n` values in all; throws std::bad_alloc when it cannot.
    void reserve(std::size_t n)
    {
        if (n <= capacity_)
            return;
        if (n > SIZE_MAX / sizeof(T))
            throw std::bad_alloc();
        void* p = GrowBlock(data_, capacity_ * sizeof(T), n * sizeof(T));
        if (!p)
            throw std::bad_alloc();
        data_ = static_cast<T*>(p);
        capacity_ = n;
    }
    // Sets the size; new values are left unset.
    void resize(std::size_t n)
    {
        grow(n);
        size_ = n;
    }
    void append(const T* p, std::size_t n)
    {
        if (n == 0)
            return;
        if (n > SIZE_MAX - size_)
            throw std::bad_alloc();
        grow(size_ + n);
        std::copy(p, p + n, data_ + size_);
        size_ += n;
    }
    void push_back(T v) { append(&v, 1); }
    void truncate(std::size_t n)
    {
        if (n < size_)
            size_ = n;
    }
    void release()
    {
        FreeBlock(data_, capacity_ * sizeof(T));
        data_ = nullptr;
        size_ = capacity_ = 0;
    }

private:
    // Doubling keeps appends amortised constant.
    void grow(std::size_t n)
    {
        if (n <= capacity_)
            return;
        std::size_t want = capacity_ < 16 ? 16 : capacity_;
        while (want < n)
            want = want > SIZE_MAX / 2 ? n : want * 2;
        reserve(want);
    }

    T* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

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
    // Puts the lines of `front` before the current ones.
    void prepend(const LineList& front);
    void clear();

    std::size_t size() const { return starts_.size(); }
    bool empty() const { return starts_.size() == 0; }
    std::string_view operator[](std::size_t i) const;
    std::string_view back() const { return (*this)[size() - 1]; }
    std::size_t startOf(std::size_t i) const { return starts_[i]; }
    // The line whose text begins at `start` (which must be a line's start).
    std::size_t lineAt(std::size_t start) const;
    // Every line followed by CR LF: the bytes of the file.
    std::string_view text() const { return {text_.data(), text_.size()}; }

    std::vector<std::string> lines() const;
    operator std::vector<std::string>() const { return lines(); }

    // Rewrites every line through `rewrite(line, out)`, which returns true
    // and fills `out` (given empty) when the line changes. Works in place,
    // without a second copy of the text, as long as no line gets shorter.
    // Lines before `first` are left alone.
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
        const LineList* list_;
        std::size_t i_;
    };
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, size()}; }

    friend bool operator==(const LineList& a, const LineList& b);
    friend bool operator==(const LineList& a, const std::vector<std::string>& b);

private:
    // Length of line `i` with its CR LF.
    std::size_t spanOf(std::size_t i) const;
    void checkRoom(std::size_t more) const;
    void rewriteCopying(const Rewriter& rewrite, std::size_t first);
    void moveLines(std::size_t from, std::size_t to, std::size_t end, std::size_t shift);

    PodBuffer<char> text_;
    PodBuffer<std::uint32_t> starts_;
};

// Where a code list in spilling mode sends its lines, one at a time, in order.
class LineSink {
public:
    virtual ~LineSink() = default;
    virtual void line(std::string_view text) = 0;
};

// The code lists of a compile: a line list with a case-folded index of its
// label lines, so that "is NAME: a line of this list" costs one hash lookup
// instead of a scan over the whole list.
//
// A list can also spill: every line but the last (which a tail call may
// still replace) goes on to a LineSink and is not kept, so a large program
// need not be held in memory. The index still answers for every line.
class CodeList {
public:
    void push_back(std::string_view line);
    void push_back(std::initializer_list<std::string_view> pieces);
    void replaceBack(std::string_view line);
    void prepend(const LineList& front);
    void rewriteAll(const LineList::Rewriter& rewrite, std::size_t first = 0);
    void assign(const std::vector<std::string>& lines);
    void clear();
    // Ends the lookups: the index is dropped and no longer kept.
    void dropIndex();

    // From now on the lines go on to `sink` (which must outlive the list or
    // the next clear) instead of being kept. The list must be empty.
    void spillTo(LineSink* sink);
    // Hands the held-back last line to the sink as well.
    void flush();
    bool spilling() const { return sink_ != nullptr; }
    // From now on every appended line is noted in `map` (until the next clear).
    void mapTo(LineMap* map) { map_ = map; }

    // True when some line equals `line` ignoring the case of a to z. Only lines
    // that end in ":" are indexed, so `line` must end in ":".
    bool containsLabel(std::string_view line) const;

    // The last line; a spilling list answers only while the line is held back.
    std::string_view back() const { return sink_ ? std::string_view(pending_) : lines_.back(); }
    std::size_t size() const { return sink_ ? count_ : lines_.size(); }
    bool empty() const { return size() == 0; }
    // The kept lines; a spilling list keeps none.
    std::string operator[](std::size_t i) const { return std::string(lines_[i]); }
    std::vector<std::string> lines() const { return lines_.lines(); }
    const LineList& list() const { return lines_; }
    // Hands the lines over and leaves this list empty.
    LineList take();

private:
    struct Slot {
        std::uint32_t name = 0; // where the label's entry starts in names_, plus 1; 0 marks a free slot
        std::uint32_t hash = 0; // low half of the label's hash, to skip most comparisons
    };
    // The control labels "_L<n>:" and "_LC<n>:" that the compiler makes
    // outnumber the names of words two to one. They live in bit sets by
    // number: no hashing, no names kept, and their numbers rise, so the bits
    // touched are close together.
    enum ControlKind { ControlL, ControlLC, ControlKinds };
    struct ControlLabel {
        ControlKind kind;
        std::size_t number;
    };
    static bool parseControlLabel(std::string_view line, ControlLabel& out);
    bool controlFits(const ControlLabel& l) const;
    bool hasControl(const ControlLabel& l) const;

    std::string_view nameAt(std::uint32_t entry) const;
    void add(std::size_t index, std::string_view line);
    void remove(std::size_t index, std::string_view line);
    std::size_t findSlot(std::string_view line, std::uint32_t hash) const;
    void eraseSlot(std::size_t i);
    void growIndex();
    void rebuildIndex();
    void countLine(std::size_t bytes);

    LineList lines_;             // the kept lines: all of them, or none when spilling
    std::vector<Slot> slots_;    // open addressing, linear probing; size a power of 2
    std::size_t used_ = 0;       // occupied slots
    PodBuffer<char> names_;      // the hashed labels, each a 4-byte length and its text
    std::vector<bool> control_[ControlKinds]; // bit n: some line is that kind's label n
    std::size_t controlCount_ = 0;            // bits set in control_, which bounds their growth
    // The line whose add created the newest index entry, so that replacing
    // the last line can take back exactly what it added; SIZE_MAX for none.
    std::size_t newestEntryLine_ = SIZE_MAX;
    bool indexed_ = true;

    LineMap* map_ = nullptr;     // notes where appended lines came from; null when nobody asked
    LineSink* sink_ = nullptr;   // set while spilling
    std::string pending_;        // spilling: the last line, held back from the sink
    bool pendingHeld_ = false;   // spilling: pending_ is a line the sink has not had yet
    std::size_t count_ = 0;      // spilling: lines pushed in all
    std::size_t spilledBytes_ = 0; // spilling: text of those lines, with their line ends
};

// Hashes the text with a to z folded to upper case.
std::uint64_t FoldedHash(std::string_view s);

} // namespace mirtolan
