#include "CodeList.h"

#include <algorithm>
#include <cstring>

#include "Compiler.h"

namespace mirtolan {

std::string FoldCase(std::string_view s)
{
    std::string out(s);
    for (char& ch : out)
        ch = FoldChar(ch);
    return out;
}

// FNV-1a over the folded bytes: cheap for the short names that make up
// almost every label, and it needs no folded copy of the text.
std::uint64_t FoldedHash(std::string_view s)
{
    constexpr std::uint64_t Offset = 14695981039346656037ull, Prime = 1099511628211ull;
    std::uint64_t h = Offset;
    for (char ch : s) {
        h ^= static_cast<unsigned char>(FoldChar(ch));
        h *= Prime;
    }
    // Spread the high bits into the low ones, which pick the slot.
    return h ^ (h >> 29);
}

// ---------------------------------------------------------------- LineList

constexpr std::string_view LineEnd = "\r\n";

LineList::LineList(std::initializer_list<std::string_view> lines)
{
    for (auto l : lines)
        push_back(l);
}

LineList::LineList(const std::vector<std::string>& lines)
{
    for (const auto& l : lines)
        push_back(l);
}

LineList& LineList::operator=(std::initializer_list<std::string_view> lines)
{
    clear();
    for (auto l : lines)
        push_back(l);
    return *this;
}

void LineList::checkRoom(std::size_t more) const
{
    if (more > MaxTextBytes - text_.size())
        throw CompileError("The listing would grow beyond " + std::to_string(MaxTextBytes / (1u << 20)) +
                           " MiB; the source is too large for one compile");
}

void LineList::push_back(std::string_view line) { push_back({line}); }

void LineList::push_back(std::initializer_list<std::string_view> pieces)
{
    std::size_t total = LineEnd.size();
    for (auto p : pieces)
        total += p.size(); // no overflow: each piece is far below SIZE_MAX / 2
    checkRoom(total);
    starts_.push_back(std::uint32_t(text_.size()));
    for (auto p : pieces)
        text_.append(p);
    text_.append(LineEnd);
}

std::string_view LineList::operator[](std::size_t i) const
{
    const std::size_t next = i + 1 < size() ? starts_[i + 1] : text_.size();
    return std::string_view(text_).substr(starts_[i], next - starts_[i] - LineEnd.size());
}

void LineList::replaceBack(std::string_view line)
{
    // `line` may point into the text that is cut away, so keep a copy first.
    const std::string copy(line);
    text_.resize(starts_.back());
    starts_.pop_back();
    push_back(copy);
}

void LineList::insert(std::size_t i, std::string_view line)
{
    if (i >= size()) {
        push_back(line);
        return;
    }
    const std::size_t add = line.size() + LineEnd.size();
    checkRoom(add);
    const std::uint32_t at = starts_[i];
    text_.insert(at, std::string(line) + std::string(LineEnd));
    starts_.insert(starts_.begin() + std::ptrdiff_t(i), at);
    for (std::size_t k = i + 1; k < starts_.size(); ++k)
        starts_[k] += std::uint32_t(add);
}

void LineList::prepend(const LineList& front)
{
    if (front.empty())
        return;
    const std::size_t add = front.text_.size();
    checkRoom(add);
    text_.insert(0, front.text_);
    for (auto& s : starts_)
        s += std::uint32_t(add);
    starts_.insert(starts_.begin(), front.starts_.begin(), front.starts_.end());
}

void LineList::truncate(std::size_t lines)
{
    if (lines >= size())
        return;
    text_.resize(starts_[lines]);
    starts_.resize(lines);
}

void LineList::reserve(std::size_t bytes, std::size_t lines)
{
    text_.reserve(bytes);
    starts_.reserve(lines);
}

void LineList::clear()
{
    std::string().swap(text_);
    std::vector<std::uint32_t>().swap(starts_);
}

std::vector<std::string> LineList::lines() const
{
    std::vector<std::string> out;
    out.reserve(size());
    for (auto l : *this)
        out.emplace_back(l);
    return out;
}

bool operator==(const LineList& a, const LineList& b) { return a.starts_ == b.starts_ && a.text_ == b.text_; }

bool operator==(const LineList& a, const std::vector<std::string>& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < b.size(); ++i)
        if (a[i] != b[i])
            return false;
    return true;
}

// The copy that rewriteAll makes when some line gets shorter.
void LineList::rewriteCopying(const Rewriter& rewrite, std::size_t first)
{
    LineList rebuilt;
    rebuilt.reserve(text_.size() + text_.size() / 8, size());
    std::string out;
    for (std::size_t i = 0; i < size(); ++i) {
        const std::string_view l = (*this)[i];
        out.clear();
        rebuilt.push_back(i >= first && rewrite(l, out) ? std::string_view(out) : l);
    }
    *this = std::move(rebuilt);
}

void LineList::rewriteAll(const Rewriter& rewrite, std::size_t first)
{
    // The lines that change, with their new text. A listing changes few of
    // its lines, so they are kept apart and the text is then rewritten in
    // place, from the back, so that each byte moves once, toward the end.
    std::vector<std::pair<std::size_t, std::string>> changes;
    std::size_t grown = 0;
    std::string out;
    for (std::size_t i = first; i < size(); ++i) {
        const std::string_view line = (*this)[i];
        out.clear();
        if (!rewrite(line, out))
            continue;
        if (out.size() < line.size()) {
            rewriteCopying(rewrite, first);
            return;
        }
        grown += out.size() - line.size();
        changes.emplace_back(i, std::move(out));
        out = std::string();
    }
    if (changes.empty())
        return;
    checkRoom(grown);
    const std::size_t oldSize = text_.size();
    text_.resize(oldSize + grown);
    char* text = text_.data();
    // Walking back: the old text of the lines still to place ends at `end`,
    // their new text must end at `to`.
    std::size_t end = oldSize, to = oldSize + grown;
    std::size_t placed = size(); // the changed line placed last, whose start now holds its new place
    for (std::size_t k = changes.size(); k-- > 0;) {
        const auto& [i, line] = changes[k];
        // The unchanged lines after line i move as one block.
        const std::size_t next = i + 1 < placed ? starts_[i + 1] : end;
        const std::size_t shift = to - end;
        std::memmove(text + next + shift, text + next, end - next);
        for (std::size_t j = i + 1; j < size() && starts_[j] < end; ++j)
            starts_[j] += std::uint32_t(shift);
        const std::size_t start = next + shift - line.size() - LineEnd.size();
        std::memcpy(text + start, line.data(), line.size());
        std::memcpy(text + start + line.size(), LineEnd.data(), LineEnd.size());
        end = starts_[i];
        starts_[i] = std::uint32_t(start);
        to = start;
        placed = i;
    }
}

// ---------------------------------------------------------------- CodeList

// Linear probing over small slots stays within a cache line or two up to
// this load, and a smaller table misses the cache less often.
constexpr std::size_t MaxLoadPercent = 70;

static bool isLabelShaped(std::string_view line) { return !line.empty() && line.back() == ':'; }

// Control label numbers run at most this far ahead of the lines of the
// list (the labels of nested structures come out of order); a larger
// number, which only a source's own "$_L99999999:" line could make, is
// hashed like any other label, so the bits stay as small as the list.
constexpr std::size_t ControlSlack = 4096;
// Longer numbers could overflow; such labels are hashed too.
constexpr std::size_t MaxControlDigits = 18;

bool CodeList::controlLabel(std::string_view label, ControlLabel& out) const
{
    if (label.size() < 4 || label[0] != '_' || FoldChar(label[1]) != 'L')
        return false;
    std::size_t i = 2;
    out.kind = FoldChar(label[i]) == 'C' ? 1 : 0;
    i += std::size_t(out.kind);
    const std::string_view digits = label.substr(i, label.size() - 1 - i);
    // Only the one spelling of each number: "_L07:" is another label than "_L7:".
    if (digits.empty() || digits.size() > MaxControlDigits || (digits[0] == '0' && digits.size() > 1))
        return false;
    out.number = 0;
    for (char ch : digits) {
        if (ch < '0' || ch > '9')
            return false;
        out.number = out.number * 10 + std::size_t(ch - '0');
    }
    return out.number < control_[out.kind].size() || out.number <= lines_.size() + ControlSlack;
}

std::size_t CodeList::findSlot(std::string_view label, std::uint32_t hash) const
{
    const std::size_t mask = slots_.size() - 1;
    const char* text = lines_.text().data();
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot& s = slots_[i];
        if (s.length == 0 ||
            (s.hash == hash && SameIgnoringCase(std::string_view(text + s.start, s.length - 1), label)))
            return i;
    }
}

void CodeList::grow()
{
    std::vector<Slot> old(slots_.size() < 16 ? 16 : slots_.size() * 2);
    old.swap(slots_);
    const std::size_t mask = slots_.size() - 1;
    for (const Slot& s : old) {
        if (s.length == 0)
            continue;
        std::size_t i = s.hash & mask;
        while (slots_[i].length != 0)
            i = (i + 1) & mask;
        slots_[i] = s;
    }
}

void CodeList::index(std::size_t line)
{
    const std::string_view label = lines_[line];
    if (!isLabelShaped(label))
        return;
    if (ControlLabel l; controlLabel(label, l)) {
        auto& bits = control_[l.kind];
        if (l.number >= bits.size())
            bits.resize(std::max(l.number + 1, bits.size() * 2));
        if (!bits[l.number]) {
            bits[l.number] = true;
            newest_ = line;
        }
        return;
    }
    if ((used_ + 1) * 100 > slots_.size() * MaxLoadPercent)
        grow();
    const auto hash = std::uint32_t(FoldedHash(label));
    Slot& s = slots_[findSlot(label, hash)];
    if (s.length != 0)
        return; // an earlier line has the label already
    s = Slot{std::uint32_t(lines_.startOf(line)), std::uint32_t(label.size() + 1), hash};
    ++used_;
    newest_ = line;
}

// Only the last line is ever taken back. If its label made the newest
// entry, no earlier line has it and the entry goes; otherwise an earlier
// line keeps the label in the index.
void CodeList::unindex(std::size_t line)
{
    if (newest_ != line)
        return;
    newest_ = SIZE_MAX;
    const std::string_view label = lines_[line];
    if (ControlLabel l; controlLabel(label, l)) {
        control_[l.kind][l.number] = false;
        return;
    }
    removeSlot(findSlot(label, std::uint32_t(FoldedHash(label))));
}

void CodeList::removeSlot(std::size_t i)
{
    // Backward-shift deletion keeps every probe run unbroken without tombstones.
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t j = (i + 1) & mask; slots_[j].length != 0; j = (j + 1) & mask) {
        const std::size_t home = slots_[j].hash & mask;
        // Entry j may fill the hole at i unless its home lies cyclically in (i, j].
        const bool homeBetween = i <= j ? (home > i && home <= j) : (home > i || home <= j);
        if (!homeBetween) {
            slots_[i] = slots_[j];
            i = j;
        }
    }
    slots_[i] = Slot{};
    --used_;
}

void CodeList::truncate(std::size_t lines)
{
    for (std::size_t line = size(); line-- > lines;) {
        const std::string_view label = lines_[line];
        if (!isLabelShaped(label))
            continue;
        if (ControlLabel l; controlLabel(label, l)) {
            if (l.number < control_[l.kind].size())
                control_[l.kind][l.number] = false;
            continue;
        }
        if (slots_.empty())
            continue;
        // The slot goes only when this line made it; an earlier line's label stays.
        const std::size_t slot = findSlot(label, std::uint32_t(FoldedHash(label)));
        if (slots_[slot].length != 0 && slots_[slot].start == lines_.startOf(line))
            removeSlot(slot);
    }
    lines_.truncate(lines);
    newest_ = SIZE_MAX;
    if (map_)
        map_->truncate(lines);
}

void CodeList::push_back(std::string_view line) { push_back({line}); }

void CodeList::push_back(std::initializer_list<std::string_view> pieces)
{
    lines_.push_back(pieces);
    index(size() - 1);
    if (map_)
        map_->note(size() - 1);
}

void CodeList::replaceBack(std::string_view line)
{
    const std::size_t last = size() - 1;
    unindex(last);
    lines_.replaceBack(line);
    index(last);
}

void CodeList::clear()
{
    lines_.clear();
    for (auto& bits : control_)
        std::vector<bool>().swap(bits);
    std::vector<Slot>().swap(slots_);
    used_ = 0;
    newest_ = SIZE_MAX;
    map_ = nullptr;
}

bool CodeList::containsLabel(std::string_view line) const
{
    // A label's number may have been too far ahead for the bits when its
    // line came, and hashed then.
    if (ControlLabel l; controlLabel(line, l) && l.number < control_[l.kind].size() && control_[l.kind][l.number])
        return true;
    return !slots_.empty() && slots_[findSlot(line, std::uint32_t(FoldedHash(line)))].length != 0;
}

LineList CodeList::take()
{
    LineList out = std::move(lines_);
    clear();
    return out;
}

} // namespace mirtolan
