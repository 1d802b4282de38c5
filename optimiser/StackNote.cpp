#include "StackNote.h"

#include <charconv>

namespace mirtolan {

// A note reads "dCOVERED:CELL,CELL/LOOP,LOOP" with the cells as m<slot>,
// r<reg>, k<value>, s<reg>+<value>, l<reg>+<value>, h<reg>+<value> and the
// loops as M, C, R<index>:r<limit> or R<index>:k<value>.

namespace {

struct Letter {
    char letter;                // as the note writes it
    StackNote::Cell::Kind kind; // the kind of cell it stands for
};
constexpr Letter CellLetters[] = {
    {'m', StackNote::Cell::Memory}, {'r', StackNote::Cell::Register},   {'k', StackNote::Cell::Constant},
    {'s', StackNote::Cell::Sum},    {'l', StackNote::Cell::AddressLow}, {'h', StackNote::Cell::AddressHigh},
};

// Reads a number at the front of `s` and takes it off; false when there is none.
bool number(std::string_view& s, std::uint32_t& out)
{
    const auto r = std::from_chars(s.data(), s.data() + s.size(), out);
    if (r.ec != std::errc())
        return false;
    s.remove_prefix(std::size_t(r.ptr - s.data()));
    return true;
}

bool take(std::string_view& s, char ch)
{
    if (s.empty() || s[0] != ch)
        return false;
    s.remove_prefix(1);
    return true;
}

std::uint32_t cellAt(const ReadData& data, std::uint32_t address, int cellBytes)
{
    std::uint32_t v = 0;
    for (int b = cellBytes - 1; b >= 0; --b)
        v = (v << 8) | data(address + std::uint32_t(b));
    return v;
}

} // namespace

std::string FormatStackNote(const StackNote& note)
{
    std::string s = "d" + std::to_string(note.covered) + ":";
    for (std::size_t i = 0; i < note.cells.size(); ++i) {
        const auto& c = note.cells[i];
        if (i)
            s += ",";
        for (const Letter& l : CellLetters)
            if (l.kind == c.kind)
                s += l.letter;
        switch (c.kind) {
        case StackNote::Cell::Memory: s += std::to_string(c.slot); break;
        case StackNote::Cell::Register: s += std::to_string(c.reg); break;
        case StackNote::Cell::Constant: s += std::to_string(c.value); break;
        default: s += std::to_string(c.reg) + "+" + std::to_string(c.value); break;
        }
    }
    s += "/";
    for (std::size_t i = 0; i < note.loops.size(); ++i) {
        const auto& l = note.loops[i];
        if (i)
            s += ",";
        if (l.kind == StackNote::Loop::Memory)
            s += "M";
        else if (l.kind == StackNote::Loop::Cell)
            s += "C";
        else
            s += "R" + std::to_string(l.index) + ":" +
                 (l.limitInRegister ? "r" + std::to_string(l.limit) : "k" + std::to_string(l.limitValue));
    }
    return s;
}

std::optional<StackNote> ParseStackNote(std::string_view s)
{
    StackNote note;
    std::uint32_t n = 0;
    if (!take(s, 'd') || !number(s, n) || !take(s, ':'))
        return std::nullopt;
    note.covered = int(n);
    while (!s.empty() && s[0] != '/') {
        StackNote::Cell c;
        bool known = false;
        for (const Letter& l : CellLetters)
            if (take(s, l.letter)) {
                c.kind = l.kind;
                known = true;
                break;
            }
        if (!known || !number(s, n))
            return std::nullopt;
        if (c.kind == StackNote::Cell::Memory)
            c.slot = int(n);
        else if (c.kind == StackNote::Cell::Constant)
            c.value = n;
        else
            c.reg = int(n);
        if (c.kind != StackNote::Cell::Memory && c.kind != StackNote::Cell::Constant &&
            c.kind != StackNote::Cell::Register && (!take(s, '+') || !number(s, c.value)))
            return std::nullopt;
        note.cells.push_back(c);
        take(s, ',');
    }
    if (!take(s, '/'))
        return std::nullopt;
    while (!s.empty()) {
        StackNote::Loop l;
        if (take(s, 'M')) {
            l.kind = StackNote::Loop::Memory;
        } else if (take(s, 'C')) {
            l.kind = StackNote::Loop::Cell;
        } else if (take(s, 'R') && number(s, n) && take(s, ':')) {
            l.kind = StackNote::Loop::Registers;
            l.index = int(n);
            l.limitInRegister = take(s, 'r');
            if (!l.limitInRegister && !take(s, 'k'))
                return std::nullopt;
            if (!number(s, n))
                return std::nullopt;
            if (l.limitInRegister)
                l.limit = int(n);
            else
                l.limitValue = n;
        } else {
            return std::nullopt;
        }
        note.loops.push_back(l);
        take(s, ',');
    }
    return note;
}

std::vector<std::uint32_t> NotedDataStack(const StackNote& note, const ReadData& data, std::uint32_t y,
                                          std::uint32_t top, int cellBytes)
{
    const std::uint32_t bytes = std::uint32_t(cellBytes);
    const std::uint32_t mask = cellBytes == 1 ? 0xFFu : 0xFFFFu;
    std::vector<std::uint32_t> cells;
    const std::uint32_t low = y + std::uint32_t(note.covered) * bytes;
    for (std::uint32_t a = top; a >= low + bytes && a <= top;) {
        a -= bytes;
        cells.push_back(cellAt(data, a, cellBytes));
    }
    for (const auto& c : note.cells) {
        const auto reg = [&] { return cellAt(data, std::uint32_t(c.reg), cellBytes); };
        switch (c.kind) {
        case StackNote::Cell::Memory: cells.push_back(cellAt(data, y + std::uint32_t(c.slot) * bytes, cellBytes)); break;
        case StackNote::Cell::Register: cells.push_back(reg()); break;
        case StackNote::Cell::Constant: cells.push_back(c.value & mask); break;
        case StackNote::Cell::Sum: cells.push_back((reg() + c.value) & mask); break;
        case StackNote::Cell::AddressLow: cells.push_back((data(std::uint32_t(c.reg)) + c.value) & 0xFF); break;
        case StackNote::Cell::AddressHigh: cells.push_back(((data(std::uint32_t(c.reg)) + c.value) >> 8) & 0xFF); break;
        }
    }
    return cells;
}

std::vector<std::uint32_t> NotedLoopStack(const StackNote& note, const ReadData& data, std::uint32_t x,
                                          std::uint32_t top, int cellBytes)
{
    const std::uint32_t bytes = std::uint32_t(cellBytes);
    std::vector<std::uint32_t> cells;
    const auto fromMemory = [&](int count) {
        for (int k = 0; k < count && x + bytes <= top; ++k, x += bytes)
            cells.push_back(cellAt(data, x, cellBytes));
    };
    for (auto l = note.loops.rbegin(); l != note.loops.rend(); ++l) {
        if (l->kind == StackNote::Loop::Registers) {
            cells.push_back(cellAt(data, std::uint32_t(l->index), cellBytes));
            cells.push_back(l->limitInRegister ? cellAt(data, std::uint32_t(l->limit), cellBytes) : l->limitValue);
        } else {
            fromMemory(l->kind == StackNote::Loop::Memory ? 2 : 1);
        }
    }
    if (x < top)
        fromMemory(int((top - x) / bytes)); // the callers' entries
    return cells;
}

} // namespace mirtolan
