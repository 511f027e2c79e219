#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rendova {

// A custom page-range text such as "1,3-5,9-" turned into the ordered list of
// page numbers it names. Items are separated by commas; each is N (one page),
// -N (pages 1 to N), N- (pages N to the last) or N-M (pages N to M), with
// blanks allowed around it. Numbers above the page count are lowered to it and
// numbers below 1 raised to 1; a range whose end is below its start names no
// page. Unless duplicates are kept, a page named twice is handed out only at
// its first place.
//
// Owns its items and page array. Not thread-safe; throws MemoryException when
// a list is too long to hold (and std::bad_alloc when memory runs out).
class PageRangeList {
public:
    // An item's text holds at most this many characters (the format's field
    // width); a longer piece is refused, never cut to a different number.
    static constexpr size_t kMaxItemLength = 51;

    enum ItemKind : int32_t {
        kSinglePage = 1,  // N
        kUpTo = 2,        // -N
        kFrom = 3,        // N-
        kRange = 4,       // N-M
    };

    struct Item {
        std::string text;
        int32_t kind = 0;
        int32_t first = 0;
        int32_t last = 0;
    };

    PageRangeList() = default;
    PageRangeList(const PageRangeList&) = delete;
    PageRangeList& operator=(const PageRangeList&) = delete;

    // 1 when the text parsed (the list is then ready for next()), 0 when it
    // did not, with errorText() saying why. `text` may be null.
    int parse(const char* text, int32_t pageCount, bool keepDuplicates);
    // The next page number (above 0), or 0 when the list is exhausted.
    int32_t next();
    // How many pages the list hands out.
    int32_t count() const { return m_count; }

    const std::string& errorText() const { return m_errorText; }
    const std::vector<Item>& items() const { return m_items; }

private:
    // Fills `item` from one piece of the text; false when it does not parse.
    static bool parseItem(const std::string& piece, int32_t pageCount, Item& item);
    void expand(bool keepDuplicates);

    std::vector<int32_t> m_pages;  // -1 marks a removed duplicate
    int32_t m_total = 0;
    int32_t m_count = 0;
    int32_t m_position = -1;
    std::string m_errorText;
    std::vector<Item> m_items;
};

}  // namespace rendova
