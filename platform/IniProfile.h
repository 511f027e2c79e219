#pragma once

#include <string>

namespace platform {

// Private profile (INI) files as programs written for Windows expect them:
//
//   [Section]
//   key=value
//
// Section and key names match without regard to ASCII case; the first section
// and the first key of a name win when a file repeats one. Whitespace around
// names and values is dropped, and a value wrapped in one pair of matching
// quotes (" or ') loses them. Lines that are neither a section header nor a
// "key=value" pair (comments, blank lines) are ignored when reading and kept
// as they stand when writing. Lines may end in "\n" or "\r\n"; lines written
// here end in "\n".
//
// The file is read afresh on every call, so a change made by another program
// is seen at once. Calls from different threads of this process are
// serialised. Nothing throws except std::bad_alloc.

// The value of key in section, or defaultValue when the file, the section or
// the key is missing. At most bufferSize - 1 characters are returned, as a
// caller's buffer of bufferSize bytes (with its terminator) would receive
// them; a bufferSize of 0 returns an empty text.
std::string getPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, size_t bufferSize,
                                    const std::string& file);

// The value of key in section read as a decimal integer (leading sign and
// digits; the rest of the text is ignored, and a value without digits reads
// as 0), saturated to the range of int; defaultValue when the file, the
// section or the key is missing.
int getPrivateProfileInt(const std::string& section, const std::string& key, int defaultValue,
                         const std::string& file);

// Sets key in section to value. A key that exists keeps its place and its
// spelling; a new key goes after the last key of its section; a new section
// goes at the end of the file. The file is created on the first write (its
// folder must exist) and replaced as a whole, so that a failure midway leaves
// the old file intact. False when the file cannot be written, or when the
// entry could not be read back as written: a name is empty, any text holds a
// line break, the section name holds ']', or the key holds '=' or starts
// like a comment or a section header.
bool writePrivateProfileString(const std::string& section, const std::string& key, const std::string& value,
                               const std::string& file);

}  // namespace platform
