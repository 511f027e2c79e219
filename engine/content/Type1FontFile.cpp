#include "engine/content/Type1FontFile.h"

#include <cstring>

#include "engine/core/BuiltinEncodings.h"
#include "engine/core/Memory.h"

namespace rendova {

namespace {

// What ends the font name after "/FontName /".
constexpr const char* kNameSeparators = " \t/(";

bool startsWith(const char* line, const char* prefix) {
    return std::strncmp(line, prefix, std::strlen(prefix)) == 0;
}

const char* skipBlanks(const char* p) {
    while (*p == ' ' || *p == '\t')
        ++p;
    return p;
}

const char* skipWord(const char* p) {
    while (*p && *p != ' ' && *p != '\t')
        ++p;
    return p;
}

// Whether the word at p is exactly `word`.
bool isWord(const char* p, const char* word) {
    size_t n = std::strlen(word);
    return std::strncmp(p, word, n) == 0 && (p[n] == '\0' || p[n] == ' ' || p[n] == '\t');
}

char* copyBytes(const char* start, size_t length) {
    auto* text = static_cast<char*>(memAlloc(static_cast<int>(length) + 1));
    std::memcpy(text, start, length);
    text[length] = '\0';
    return text;
}

}  // namespace

Type1FontFile::Type1FontFile(const uint8_t* buffer, int length, uint8_t* owned)
    : FontFileReader(buffer, length, owned) {}

Type1FontFile::~Type1FontFile() {
    memFree(m_name);
    if (m_ownedEncoding) {
        for (int i = 0; i < 256; ++i)
            memFree(m_ownedEncoding[i]);
        memFree(m_ownedEncoding);
    }
}

std::unique_ptr<Type1FontFile> Type1FontFile::fromBuffer(const uint8_t* buffer, int length) {
    return std::unique_ptr<Type1FontFile>(new Type1FontFile(buffer, length, nullptr));
}

std::unique_ptr<Type1FontFile> Type1FontFile::fromFile(const char* fileName) {
    int length = 0;
    uint8_t* buffer = readWholeFile(fileName, &length);
    if (!buffer)
        return nullptr;
    return std::unique_ptr<Type1FontFile>(new Type1FontFile(buffer, length, buffer));
}

const char* Type1FontFile::getName() {
    if (!m_parsed)
        parse();
    return m_name;
}

const char* const* Type1FontFile::getEncoding() {
    if (!m_parsed)
        parse();
    return m_encoding;
}

bool Type1FontFile::nextLine(int* pos, char* line) const {
    if (*pos >= m_length)
        return false;
    int start = *pos;
    int end = start;
    while (end < m_length && m_buffer[end] != '\r' && m_buffer[end] != '\n')
        ++end;
    int n = end - start < kMaxLineLength ? end - start : kMaxLineLength;
    std::memcpy(line, m_buffer + start, static_cast<size_t>(n));
    line[n] = '\0';
    if (end < m_length && m_buffer[end] == '\r') {
        ++end;
        if (end < m_length && m_buffer[end] == '\n')
            ++end;
    } else if (end < m_length) {
        ++end;  // LF
    }
    *pos = end;
    return true;
}

void Type1FontFile::parse() {
    m_parsed = true;
    char line[kMaxLineLength + 1];
    int pos = 0;
    for (int i = 0; i < kMaxHeaderLines && !(m_name && m_encoding) && nextLine(&pos, line); ++i) {
        if (!m_name && startsWith(line, "/FontName")) {
            if (const char* slash = std::strchr(line + 9, '/')) {
                ++slash;
                m_name = copyBytes(slash, std::strcspn(slash, kNameSeparators));
            }
        } else if (!m_encoding && startsWith(line, "/Encoding StandardEncoding def")) {
            m_encoding = kStandardEncoding;
        } else if (!m_encoding && startsWith(line, "/Encoding 256 array")) {
            readEncodingLines(&pos);
        }
    }
}

void Type1FontFile::readEncodingLines(int* pos) {
    m_ownedEncoding = static_cast<char**>(memAllocArray(256, sizeof(char*)));
    std::memset(m_ownedEncoding, 0, 256 * sizeof(char*));
    m_encoding = m_ownedEncoding;
    char line[kMaxLineLength + 1];
    for (int i = 0; i < kMaxEncodingLines && nextLine(pos, line); ++i) {
        const char* p = skipBlanks(line);
        if (isWord(p, "dup")) {
            p = skipBlanks(p + 3);
            int code = 0;
            const char* digits;
            if (p[0] == '8' && p[1] == '#') {
                for (digits = p += 2; *p >= '0' && *p <= '7' && code < 256; ++p)
                    code = code * 8 + (*p - '0');
            } else {
                for (digits = p; *p >= '0' && *p <= '9' && code < 256; ++p)
                    code = code * 10 + (*p - '0');
            }
            const char* slash = std::strchr(p, '/');
            if (p > digits && code < 256 && slash) {
                ++slash;
                char* name = copyBytes(slash, std::strcspn(slash, " \t"));
                memFree(m_ownedEncoding[code]);
                m_ownedEncoding[code] = name;
            }
        } else if (isWord(skipBlanks(skipWord(p)), "def")) {
            break;
        }
    }
}

}  // namespace rendova
