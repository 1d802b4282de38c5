#include "CodeList.h"

namespace mirtolan {

static char upper(char ch) { return (ch >= 'a' && ch <= 'z') ? char(ch - 'a' + 'A') : ch; }

std::string FoldCase(std::string_view s)
{
    std::string out(s);
    for (char& ch : out)
        ch = upper(ch);
    return out;
}

bool SameIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (upper(a[i]) != upper(b[i]))
            return false;
    return true;
}

static bool isLabelShaped(const std::string& line) { return !line.empty() && line.back() == ':'; }

void CodeList::add(const std::string& line)
{
    if (isLabelShaped(line))
        ++labels_[FoldCase(line)];
}

void CodeList::remove(const std::string& line)
{
    if (!isLabelShaped(line))
        return;
    auto it = labels_.find(FoldCase(line));
    if (it != labels_.end() && --it->second == 0)
        labels_.erase(it);
}

void CodeList::push_back(std::string line)
{
    add(line);
    lines_.push_back(std::move(line));
}

void CodeList::replace(std::size_t i, std::string line)
{
    remove(lines_.at(i));
    add(line);
    lines_[i] = std::move(line);
}

void CodeList::assign(std::vector<std::string> lines)
{
    clear();
    lines_ = std::move(lines);
    for (const auto& l : lines_)
        add(l);
}

void CodeList::clear()
{
    lines_.clear();
    labels_.clear();
}

bool CodeList::containsLabel(std::string_view line) const
{
    return labels_.count(FoldCase(line)) != 0;
}

} // namespace mirtolan
