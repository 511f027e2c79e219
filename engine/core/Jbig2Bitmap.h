#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/core/Jbig2HuffmanTable.h"

namespace rendova {

class ArithDecoderStats;

// What a decoded JBIG2 segment leaves for later segments to refer to: an
// intermediate region, a symbol or pattern dictionary or a code table. The
// decoder owns its segments; nothing here throws but MemoryException.
class Jbig2Segment {
public:
    enum Kind { kBitmapKind = 0, kSymbolDictKind = 1, kPatternDictKind = 2, kCodeTableKind = 3 };

    explicit Jbig2Segment(uint32_t number) : m_number(number) {}
    virtual ~Jbig2Segment() = default;
    virtual int getKind() const = 0;
    uint32_t getNumber() const { return m_number; }
    void setNumber(uint32_t number) { m_number = number; }

private:
    uint32_t m_number;
};

// A bilevel bitmap, 1 = black, rows of (width + 7) / 8 bytes, most
// significant bit first, with the bits past the width always 0 (the fast
// paths read whole bytes). A bitmap whose size is out of range has null
// data and counts as absent wherever it is used.
class Jbig2Bitmap final : public Jbig2Segment {
public:
    // Combination operators of regions and symbols.
    enum Op { kOr = 0, kAnd = 1, kXor = 2, kXnor = 3, kReplace = 4 };

    Jbig2Bitmap(uint32_t number, int width, int height);
    ~Jbig2Bitmap() override;
    Jbig2Bitmap(const Jbig2Bitmap&) = delete;
    Jbig2Bitmap& operator=(const Jbig2Bitmap&) = delete;

    int getKind() const override { return kBitmapKind; }
    bool isValid() const { return m_data != nullptr; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    int lineBytes() const { return m_line; }
    uint8_t* data() { return m_data; }
    const uint8_t* data() const { return m_data; }
    uint8_t* row(int y) { return m_data + size_t(y) * size_t(m_line); }
    const uint8_t* row(int y) const { return m_data + size_t(y) * size_t(m_line); }

    // Pixels outside the bitmap read as 0.
    int getPixel(int x, int y) const {
        if (x < 0 || x >= m_width || y < 0 || y >= m_height)
            return 0;
        return (row(y)[x >> 3] >> (7 - (x & 7))) & 1;
    }
    void setPixel(int x, int y) { row(y)[x >> 3] |= uint8_t(0x80 >> (x & 7)); }

    void clearTo(int pixel);
    // Grows to newHeight rows of the given pixel; false (and unchanged) when
    // the new size is out of range.
    bool expand(int newHeight, int pixel);
    void duplicateRow(int yDest, int ySource);
    // The part at (x, y) of the given size; pixels outside this bitmap are 0.
    std::unique_ptr<Jbig2Bitmap> getSlice(int x, int y, int width, int height) const;
    // Combines source into this bitmap with its top-left corner at (x, y),
    // clipped to this bitmap.
    void combine(const Jbig2Bitmap& source, int64_t x, int64_t y, int op);

    // Whether a bitmap of this size may be made.
    static bool sizeInRange(int64_t width, int64_t height);

private:
    void clearPadding();

    int m_width;
    int m_height;
    int m_line;
    uint8_t* m_data = nullptr;
};

// A symbol dictionary: its exported symbols (null entries are absent) and,
// when the dictionary asked for it, the statistics it ended with.
class Jbig2SymbolDict final : public Jbig2Segment {
public:
    explicit Jbig2SymbolDict(uint32_t number) : Jbig2Segment(number) {}
    ~Jbig2SymbolDict() override;
    int getKind() const override { return kSymbolDictKind; }

    std::vector<std::unique_ptr<Jbig2Bitmap>> symbols;
    std::unique_ptr<ArithDecoderStats> genericStats;
    std::unique_ptr<ArithDecoderStats> refinementStats;
};

class Jbig2PatternDict final : public Jbig2Segment {
public:
    explicit Jbig2PatternDict(uint32_t number) : Jbig2Segment(number) {}
    int getKind() const override { return kPatternDictKind; }

    std::vector<std::unique_ptr<Jbig2Bitmap>> patterns;
};

// A Huffman table: rows as Jbig2HuffmanTable.h describes them, codes
// assigned.
class Jbig2CodeTable final : public Jbig2Segment {
public:
    explicit Jbig2CodeTable(uint32_t number);
    ~Jbig2CodeTable() override;
    int getKind() const override { return kCodeTableKind; }

    Jbig2HuffmanTable table;
};

}  // namespace rendova
