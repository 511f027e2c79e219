#include "library/PageRangeList.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "engine/core/Memory.h"

namespace rendova {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The value of a run of digits, saturated: any value above the page count is
// lowered to it, so a number too long for 32 bits means "the last page", not
// whatever an overflow would make of it.
int64_t digitsValue(const std::string& text, size_t begin, size_t end) {
    int64_t value = 0;
    for (size_t i = begin; i < end; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > INT32_MAX)
            return INT32_MAX;
    }
    return value;
}

// Lowered to the page count when above it, then raised to 1.
int32_t clampPage(int64_t n, int32_t pageCount) {
    if (n > pageCount)
        n = pageCount;
    if (n < 1)
        n = 1;
    return int32_t(n);
}

}  // namespace

bool PageRangeList::parseItem(const std::string& piece, int32_t pageCount, Item& item) {
    item.text = piece;
    size_t begin = 0;
    size_t end = piece.size();
    while (end > begin && isBlank(piece[end - 1]))
        --end;
    while (begin < end && isBlank(piece[begin]))
        ++begin;
    if (begin == end)
        return false;

    size_t digitsEnd = begin;
    while (digitsEnd < end && isDigit(piece[digitsEnd]))
        ++digitsEnd;
    if (digitsEnd == end) {
        item.kind = kSinglePage;
        item.first = item.last = clampPage(digitsValue(piece, begin, end), pageCount);
        return true;
    }
    if (piece[digitsEnd] != '-')
        return false;
    const size_t dash = digitsEnd;
    size_t secondEnd = dash + 1;
    while (secondEnd < end && isDigit(piece[secondEnd]))
        ++secondEnd;
    if (secondEnd != end)
        return false;
    const bool hasFirst = dash > begin;
    const bool hasSecond = end > dash + 1;
    if (!hasFirst && hasSecond) {
        item.kind = kUpTo;
        item.first = 1;
        item.last = clampPage(digitsValue(piece, dash + 1, end), pageCount);
        return true;
    }
    if (hasFirst && !hasSecond) {
        item.kind = kFrom;
        item.first = clampPage(digitsValue(piece, begin, dash), pageCount);
        item.last = pageCount;
        return true;
    }
    if (hasFirst && hasSecond) {
        item.kind = kRange;
        item.first = clampPage(digitsValue(piece, begin, dash), pageCount);
        item.last = clampPage(digitsValue(piece, dash + 1, end), pageCount);
        return true;
    }
    return false;  // a lone minus sign
}

int PageRangeList::parse(const char* text, int32_t pageCount, bool keepDuplicates) {
    m_items.clear();
    m_pages.clear();
    m_total = 0;
    m_count = 0;
    m_position = -1;
    m_errorText.clear();

    if (text == nullptr || *text == '\0') {
        m_errorText = "Invalid custom pages range!";
        return 0;
    }
    const std::string whole = text;
    size_t start = 0;
    while (start <= whole.size()) {
        size_t comma = whole.find(',', start);
        if (comma == std::string::npos)
            comma = whole.size();
        if (comma > start) {
            const std::string piece = whole.substr(start, comma - start);
            Item item;
            if (piece.size() > kMaxItemLength || !parseItem(piece, pageCount, item)) {
                m_items.clear();
                m_errorText = "Analysis syntax error,near by '" + piece + "'";
                return 0;
            }
            m_items.push_back(std::move(item));
        }
        start = comma + 1;
    }
    if (m_items.empty()) {
        m_errorText = "Analysis syntax error,near by '" + whole + "'";
        return 0;
    }
    expand(keepDuplicates);
    return 1;
}

void PageRangeList::expand(bool keepDuplicates) {
    int64_t total = 0;
    for (const Item& item : m_items) {
        if (item.last >= item.first)
            total += int64_t(item.last) - item.first + 1;
        // The count is a 32-bit number of pages.
        if (total > INT32_MAX)
            throw MemoryException();
    }
    m_pages.reserve(size_t(total));
    for (const Item& item : m_items) {
        for (int64_t page = item.first; page <= item.last; ++page)
            m_pages.push_back(int32_t(page));
    }
    m_total = int32_t(total);
    m_position = 0;
    m_count = m_total;
    if (keepDuplicates || m_pages.empty())
        return;
    // The first occurrence of a page wins: walking forwards and marking the
    // pages seen removes exactly the later entries that an earlier one holds.
    const int32_t highest = *std::max_element(m_pages.begin(), m_pages.end());
    std::vector<bool> seen(size_t(highest) + 1, false);
    for (int32_t& page : m_pages) {
        if (seen[size_t(page)]) {
            page = -1;
            --m_count;
        } else {
            seen[size_t(page)] = true;
        }
    }
}

int32_t PageRangeList::next() {
    if (m_position < 0)
        return 0;
    while (size_t(m_position) < m_pages.size()) {
        const int32_t page = m_pages[size_t(m_position)];
        ++m_position;
        if (page > 0)
            return page;
    }
    return 0;
}

}  // namespace rendova
