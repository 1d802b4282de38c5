#include "CodeList.h"

#include <cstring>
#include <sys/mman.h>

#include "Compiler.h"

namespace mirtolan {

static char upper(char ch) { return FoldChar(ch); }

std::string FoldCase(std::string_view s)
{
    std::string out(s);
    for (char& ch : out)
        ch = upper(ch);
    return out;
}

// FNV-1a over the folded bytes: cheap for the short names that make up
// almost every label, and it needs no folded copy of the text.
std::uint64_t FoldedHash(std::string_view s)
{
    constexpr std::uint64_t Offset = 14695981039346656037ull, Prime = 1099511628211ull;
    std::uint64_t h = Offset;
    for (char ch : s) {
        h ^= static_cast<unsigned char>(upper(ch));
        h *= Prime;
    }
    // Spread the high bits into the low ones, which pick the slot.
    return h ^ (h >> 29);
}

// Blocks from this size on are mapped directly; smaller ones come from the heap.
constexpr std::size_t MappedBlock = std::size_t(1) << 20;

#if defined(__linux__) && defined(MREMAP_MAYMOVE)
void* GrowBlock(void* old, std::size_t oldBytes, std::size_t newBytes)
{
    if (newBytes < MappedBlock)
        return std::realloc(old, newBytes);
    void* p = nullptr;
    if (oldBytes >= MappedBlock) {
        p = ::mremap(old, oldBytes, newBytes, MREMAP_MAYMOVE);
    } else {
        p = ::mmap(nullptr, newBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p != MAP_FAILED && old) {
            std::memcpy(p, old, oldBytes);
            std::free(old);
        }
    }
    return p == MAP_FAILED ? nullptr : p;
}

void FreeBlock(void* p, std::size_t bytes)
{
    if (bytes >= MappedBlock)
        ::munmap(p, bytes);
    else
        std::free(p);
}
#else
void* GrowBlock(void* old, std::size_t, std::size_t newBytes) { return std::realloc(old, newBytes); }
void FreeBlock(void* p, std::size_t) { std::free(p); }
#endif

// ---------------------------------------------------------------- LineList

constexpr char LineEnd[] = {'\r', '\n'};
constexpr std::size_t LineEndSize = sizeof LineEnd;

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

[[noreturn]] static void listingTooLarge()
{
    throw CompileError("The listing would grow beyond " + std::to_string(LineList::MaxTextBytes / (1u << 20)) +
                       " MiB; the source is too large for one compile");
}

void LineList::checkRoom(std::size_t more) const
{
    if (more > MaxTextBytes - text_.size())
        listingTooLarge();
}

void LineList::push_back(std::string_view line)
{
    checkRoom(line.size() + LineEndSize);
    starts_.push_back(std::uint32_t(text_.size()));
    text_.append(line.data(), line.size());
    text_.append(LineEnd, LineEndSize);
}

void LineList::push_back(std::initializer_list<std::string_view> pieces)
{
    std::size_t total = LineEndSize;
    for (auto p : pieces) {
        checkRoom(p.size());
        total += p.size();
    }
    checkRoom(total);
    starts_.push_back(std::uint32_t(text_.size()));
    for (auto p : pieces)
        text_.append(p.data(), p.size());
    text_.append(LineEnd, LineEndSize);
}

std::size_t LineList::spanOf(std::size_t i) const
{
    const std::size_t next = i + 1 < size() ? starts_[i + 1] : text_.size();
    return next - starts_[i];
}

std::size_t LineList::lineAt(std::size_t start) const
{
    const auto* end = starts_.data() + size();
    return std::size_t(std::upper_bound(starts_.data(), end, std::uint32_t(start)) - starts_.data()) - 1;
}

std::string_view LineList::operator[](std::size_t i) const
{
    return {text_.data() + starts_[i], spanOf(i) - LineEndSize};
}

void LineList::replaceBack(std::string_view line)
{
    // `line` may point into the text that is cut away, so keep a copy first.
    const std::string copy(line);
    text_.truncate(starts_[size() - 1]);
    starts_.truncate(size() - 1);
    push_back(copy);
}

void LineList::prepend(const LineList& front)
{
    if (front.empty())
        return;
    const std::size_t add = front.text_.size(), lines = front.size();
    checkRoom(add);
    const std::size_t oldText = text_.size(), oldLines = size();
    text_.resize(oldText + add);
    std::memmove(text_.data() + add, text_.data(), oldText);
    std::memcpy(text_.data(), front.text_.data(), add);
    starts_.resize(oldLines + lines);
    std::memmove(starts_.data() + lines, starts_.data(), oldLines * sizeof(std::uint32_t));
    for (std::size_t i = 0; i < lines; ++i)
        starts_[i] = front.starts_[i];
    for (std::size_t i = lines; i < lines + oldLines; ++i)
        starts_[i] += std::uint32_t(add);
}

void LineList::clear()
{
    text_.release();
    starts_.release();
}

std::vector<std::string> LineList::lines() const
{
    std::vector<std::string> out;
    out.reserve(size());
    for (auto l : *this)
        out.emplace_back(l);
    return out;
}

bool operator==(const LineList& a, const LineList& b)
{
    return a.size() == b.size() && a.text() == b.text() &&
           std::equal(a.starts_.data(), a.starts_.data() + a.size(), b.starts_.data());
}

bool operator==(const LineList& a, const std::vector<std::string>& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < b.size(); ++i)
        if (a[i] != b[i])
            return false;
    return true;
}

void LineList::rewriteCopying(const Rewriter& rewrite, std::size_t first)
{
    LineList rebuilt;
    std::string out;
    for (std::size_t i = 0; i < size(); ++i) {
        const std::string_view l = (*this)[i];
        out.clear();
        rebuilt.push_back(i >= first && rewrite(l, out) ? std::string_view(out) : l);
    }
    *this = std::move(rebuilt);
}

// Moves the lines [from, to), whose text ends at `end`, by `shift` bytes
// towards the end, in one move.
void LineList::moveLines(std::size_t from, std::size_t to, std::size_t end, std::size_t shift)
{
    if (from >= to || shift == 0)
        return;
    const std::size_t begin = starts_[from];
    std::memmove(text_.data() + begin + shift, text_.data() + begin, end - begin);
    for (std::size_t i = from; i < to; ++i)
        starts_[i] += std::uint32_t(shift);
}

void LineList::rewriteAll(const Rewriter& rewrite, std::size_t first)
{
    const std::size_t n = size();
    std::string out;
    // First pass: which lines change, how much the text grows, and whether
    // every line keeps at least its length, which the in-place pass needs.
    std::vector<bool> changed(n);
    std::size_t grown = 0, changes = 0;
    for (std::size_t i = first; i < n; ++i) {
        out.clear();
        const std::string_view line = (*this)[i];
        if (!rewrite(line, out))
            continue;
        if (out.size() < line.size()) {
            rewriteCopying(rewrite, first);
            return;
        }
        changed[i] = true;
        ++changes;
        grown += out.size() - line.size();
        if (grown > MaxTextBytes)
            break; // checkRoom below refuses it
    }
    if (changes == 0)
        return;
    checkRoom(grown);
    // Second pass, from the last line back: each line moves to a place at or
    // behind its old one, and only over text that has already been read. The
    // unchanged lines between two changed ones move together.
    const std::size_t oldSize = text_.size();
    text_.resize(oldSize + grown);
    std::size_t shift = grown; // how far the lines before the current one still have to move
    std::size_t runEnd = n;    // the unchanged lines [i + 1, runEnd) have not moved yet
    for (std::size_t i = n; i-- > 0;) {
        if (!changed[i])
            continue;
        // Line runEnd, when there is one, has already moved by `shift`.
        const std::size_t oldRunEnd = runEnd < n ? std::size_t(starts_[runEnd]) - shift : oldSize;
        moveLines(i + 1, runEnd, oldRunEnd, shift);
        runEnd = i;
        const std::size_t oldStart = starts_[i];
        // Now line i + 1 has moved by `shift` too; line i's text is untouched.
        const std::size_t oldNext = i + 1 < n ? std::size_t(starts_[i + 1]) - shift : oldSize;
        const std::string_view line(text_.data() + oldStart, oldNext - oldStart - LineEndSize);
        out.clear();
        rewrite(line, out);
        shift -= out.size() - line.size();
        const std::size_t start = oldStart + shift;
        std::memcpy(text_.data() + start, out.data(), out.size());
        std::memcpy(text_.data() + start + out.size(), LineEnd, LineEndSize);
        starts_[i] = std::uint32_t(start);
    }
}

// ---------------------------------------------------------------- CodeList

static bool isLabelShaped(std::string_view line) { return !line.empty() && line.back() == ':'; }

// Linear probing over small slots stays within a cache line or two up to
// this load, and a smaller table misses the cache less often.
constexpr std::size_t MaxLoadPercent = 70;

// Control label numbers may run ahead of the labels seen so far by this
// much (nested structures place their labels out of order)...
constexpr std::size_t ControlSlack = 4096;
// ...and, beyond it, the bit sets stay within this many bits per label
// placed, so that a source naming a word "_L4000000000" cannot make them huge.
constexpr std::size_t ControlBitsPerLabel = 8;
// Longer numbers could overflow; such labels are hashed like any other.
constexpr std::size_t MaxControlDigits = 18;

bool CodeList::parseControlLabel(std::string_view line, ControlLabel& out)
{
    if (line.size() < 4 || line[0] != '_' || FoldChar(line[1]) != 'L' || line.back() != ':')
        return false;
    std::size_t i = 2;
    out.kind = ControlL;
    if (FoldChar(line[i]) == 'C') {
        out.kind = ControlLC;
        ++i;
    }
    const std::string_view digits = line.substr(i, line.size() - 1 - i);
    // Only the one spelling of each number: "_L07:" is another label than "_L7:".
    if (digits.empty() || digits.size() > MaxControlDigits || (digits[0] == '0' && digits.size() > 1))
        return false;
    std::size_t n = 0;
    for (char ch : digits) {
        if (ch < '0' || ch > '9')
            return false;
        n = n * 10 + std::size_t(ch - '0');
    }
    out.number = n;
    return true;
}

bool CodeList::controlFits(const ControlLabel& l) const
{
    return l.number < control_[l.kind].size() || l.number < ControlSlack + ControlBitsPerLabel * controlCount_;
}

bool CodeList::hasControl(const ControlLabel& l) const
{
    return l.number < control_[l.kind].size() && control_[l.kind][l.number];
}

std::string_view CodeList::nameAt(std::uint32_t entry) const
{
    std::uint32_t length = 0;
    std::memcpy(&length, names_.data() + entry, sizeof length);
    return {names_.data() + entry + sizeof length, length};
}

std::size_t CodeList::findSlot(std::string_view line, std::uint32_t hash) const
{
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot& s = slots_[i];
        if (s.name == 0 || (s.hash == hash && SameIgnoringCase(nameAt(s.name - 1), line)))
            return i;
    }
}

void CodeList::growIndex()
{
    std::vector<Slot> old(slots_.size() < 16 ? 16 : slots_.size() * 2);
    old.swap(slots_);
    const std::size_t mask = slots_.size() - 1;
    for (const Slot& s : old) {
        if (s.name == 0)
            continue;
        std::size_t i = s.hash & mask;
        while (slots_[i].name != 0)
            i = (i + 1) & mask;
        slots_[i] = s;
    }
}

void CodeList::add(std::size_t index, std::string_view line)
{
    if (!indexed_ || !isLabelShaped(line))
        return;
    ControlLabel control{};
    if (parseControlLabel(line, control) && controlFits(control)) {
        auto& bits = control_[control.kind];
        if (control.number >= bits.size())
            bits.resize(control.number + 1);
        if (!bits[control.number]) {
            bits[control.number] = true;
            ++controlCount_;
            newestEntryLine_ = index;
        }
        return;
    }
    if ((used_ + 1) * 100 > slots_.size() * MaxLoadPercent)
        growIndex();
    const auto hash = std::uint32_t(FoldedHash(line));
    Slot& s = slots_[findSlot(line, hash)];
    if (s.name != 0)
        return;
    // The names are part of the listing's text, which stays below 4 GiB.
    const std::size_t entry = names_.size();
    const auto length = std::uint32_t(line.size());
    names_.append(reinterpret_cast<const char*>(&length), sizeof length);
    names_.append(line.data(), line.size());
    s = Slot{std::uint32_t(entry + 1), hash};
    ++used_;
    newestEntryLine_ = index;
}

// Only the last line is ever removed. If its add made the newest entry, no
// earlier line has its label, and the entry goes; otherwise an earlier line
// keeps the label in the index.
void CodeList::remove(std::size_t index, std::string_view line)
{
    if (!indexed_ || newestEntryLine_ != index)
        return;
    newestEntryLine_ = SIZE_MAX;
    ControlLabel control{};
    if (parseControlLabel(line, control) && hasControl(control)) {
        control_[control.kind][control.number] = false;
        --controlCount_;
        return;
    }
    const std::size_t i = findSlot(line, std::uint32_t(FoldedHash(line)));
    if (slots_[i].name == 0)
        return;
    names_.truncate(slots_[i].name - 1); // the newest entry is the last of names_
    eraseSlot(i);
}

// Backward-shift deletion keeps every probe run unbroken without tombstones.
void CodeList::eraseSlot(std::size_t i)
{
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t j = (i + 1) & mask; slots_[j].name != 0; j = (j + 1) & mask) {
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

void CodeList::rebuildIndex()
{
    slots_ = {};
    used_ = 0;
    names_.release();
    for (auto& bits : control_)
        bits = {};
    controlCount_ = 0;
    newestEntryLine_ = SIZE_MAX;
    if (!indexed_)
        return;
    for (std::size_t i = 0; i < lines_.size(); ++i)
        add(i, lines_[i]);
}

void CodeList::countLine(std::size_t bytes)
{
    // A spilled listing obeys the limit of a kept one, so both ways of
    // compiling accept the same sources.
    if (bytes > LineList::MaxTextBytes || LineList::MaxTextBytes - bytes < spilledBytes_ + 2)
        listingTooLarge();
    spilledBytes_ += bytes + 2;
    flush();
    pendingHeld_ = true;
    ++count_;
}

void CodeList::push_back(std::string_view line)
{
    if (sink_) {
        countLine(line.size());
        pending_.assign(line);
        add(count_ - 1, pending_);
    } else {
        lines_.push_back(line);
        add(lines_.size() - 1, lines_.back());
    }
    if (map_)
        map_->note(size() - 1);
}

void CodeList::push_back(std::initializer_list<std::string_view> pieces)
{
    if (sink_) {
        std::size_t total = 0;
        for (auto p : pieces)
            total += p.size();
        countLine(total);
        pending_.clear();
        for (auto p : pieces)
            pending_.append(p);
        add(count_ - 1, pending_);
    } else {
        lines_.push_back(pieces);
        add(lines_.size() - 1, lines_.back());
    }
    if (map_)
        map_->note(size() - 1);
}

void CodeList::replaceBack(std::string_view line)
{
    const std::size_t last = size() - 1;
    remove(last, back());
    if (sink_) {
        spilledBytes_ -= pending_.size();
        if (line.size() > LineList::MaxTextBytes - spilledBytes_)
            listingTooLarge();
        spilledBytes_ += line.size();
        pending_.assign(line);
    } else {
        lines_.replaceBack(line);
    }
    add(last, back());
}

void CodeList::prepend(const LineList& front)
{
    lines_.prepend(front);
    rebuildIndex();
}

void CodeList::rewriteAll(const LineList::Rewriter& rewrite, std::size_t first)
{
    lines_.rewriteAll(rewrite, first);
    rebuildIndex();
}

void CodeList::assign(const std::vector<std::string>& lines)
{
    clear();
    for (const auto& l : lines)
        push_back(l);
}

void CodeList::spillTo(LineSink* sink)
{
    if (!empty())
        throw std::logic_error("CodeList::spillTo on a list that holds lines");
    sink_ = sink;
}

void CodeList::flush()
{
    if (sink_ && pendingHeld_) {
        pendingHeld_ = false;
        sink_->line(pending_);
    }
}

void CodeList::clear()
{
    lines_.clear();
    indexed_ = true;
    sink_ = nullptr;
    map_ = nullptr;
    pending_.clear();
    pendingHeld_ = false;
    count_ = 0;
    spilledBytes_ = 0;
    rebuildIndex();
}

void CodeList::dropIndex()
{
    indexed_ = false;
    rebuildIndex();
}

bool CodeList::containsLabel(std::string_view line) const
{
    if (!indexed_) {
        for (auto l : lines_)
            if (SameIgnoringCase(l, line))
                return true;
        return pendingHeld_ && SameIgnoringCase(pending_, line);
    }
    ControlLabel control{};
    if (parseControlLabel(line, control) && hasControl(control))
        return true;
    if (slots_.empty())
        return false;
    return slots_[findSlot(line, std::uint32_t(FoldedHash(line)))].name != 0;
}

LineList CodeList::take()
{
    LineList out = std::move(lines_);
    clear();
    return out;
}

} // namespace mirtolan
