#pragma once

#include <cstdint>
#include <memory>

#include "engine/content/FontFileReader.h"

namespace rendova {

// The clear-text part of a Type 1 font program, scanned for the font's name
// and its encoding, which simple fonts use when the document gives none.
//
// Ownership: made by fromBuffer (the buffer stays the caller's and must
// outlive the object) or fromFile (the object owns the file's bytes); the
// caller owns the object, the object its name and encoding names. One thread
// at a time; throws MemoryException when memory runs out.
class Type1FontFile : public FontFileReader {
public:
    // Lines examined for the name and the encoding.
    static constexpr int kMaxHeaderLines = 100;
    // Lines of an encoding array examined.
    static constexpr int kMaxEncodingLines = 300;
    // Lines are cut to this many bytes before they are read.
    static constexpr int kMaxLineLength = 255;

    static std::unique_ptr<Type1FontFile> fromBuffer(const uint8_t* buffer, int length);
    // Null when the file cannot be read.
    static std::unique_ptr<Type1FontFile> fromFile(const char* fileName);
    ~Type1FontFile() override;

    // The /FontName, or null when the file has none. Parses on first use.
    const char* getName();
    // 256 glyph names by code (null entries for unencoded codes), or null when
    // the file defines no encoding that this reader knows. Parses on first
    // use.
    const char* const* getEncoding();

private:
    Type1FontFile(const uint8_t* buffer, int length, uint8_t* owned);
    void parse();
    // Copies the line at *pos (cut to kMaxLineLength bytes) into line and
    // moves *pos past its end (CR, LF or CR LF); false at the end of the
    // buffer.
    bool nextLine(int* pos, char* line) const;
    void readEncodingLines(int* pos);

    char* m_name = nullptr;
    const char* const* m_encoding = nullptr;
    char** m_ownedEncoding = nullptr;
    bool m_parsed = false;
};

}  // namespace rendova
