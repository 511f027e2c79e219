#include "platform/IniProfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <mutex>
#include <vector>

namespace platform {

namespace {

// One lock for all profile files: a read-modify-write of one thread must not
// interleave with another's.
std::mutex& profileLock() {
    static std::mutex lock;
    return lock;
}

bool equalNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
        char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] - 'A' + 'a') : b[i];
        if (x != y)
            return false;
    }
    return true;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string trim(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

// One line of the file, as read, with what it declares.
struct Line {
    enum Kind { kOther, kSection, kEntry };
    std::string text;  // without its line break
    Kind kind = kOther;
    std::string name;   // section or key name, trimmed
    std::string value;  // entry value, trimmed
};

Line parseLine(const std::string& text) {
    Line line;
    line.text = text;
    std::string body = trim(text);
    if (body.empty() || body[0] == ';')
        return line;
    if (body[0] == '[') {
        size_t close = body.find(']');
        if (close != std::string::npos) {
            line.kind = Line::kSection;
            line.name = trim(body.substr(1, close - 1));
        }
        return line;
    }
    size_t equals = body.find('=');
    if (equals == std::string::npos)
        return line;
    line.kind = Line::kEntry;
    line.name = trim(body.substr(0, equals));
    line.value = trim(body.substr(equals + 1));
    return line;
}

// The file's lines, or nothing when it cannot be read. exists tells whether
// it could be read; readable is false only for a file that is there but could
// not be read (a writer must then leave it alone rather than replace it).
std::vector<Line> readLines(const std::string& file, bool& exists, bool* readable = nullptr) {
    std::vector<Line> lines;
    exists = false;
    if (readable)
        *readable = true;
    FILE* stream = std::fopen(file.c_str(), "rb");
    if (!stream) {
        if (readable)
            *readable = errno == ENOENT;
        return lines;
    }
    exists = true;
    std::string content;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, stream)) > 0)
        content.append(buffer, got);
    std::fclose(stream);

    size_t position = 0;
    while (position < content.size()) {
        size_t end = content.find('\n', position);
        if (end == std::string::npos)
            end = content.size();
        std::string text = content.substr(position, end - position);
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
        lines.push_back(parseLine(text));
        position = end + 1;
    }
    return lines;
}

// Index of the section's header line, or -1.
long findSection(const std::vector<Line>& lines, const std::string& section) {
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind == Line::kSection && equalNoCase(lines[i].name, section))
            return static_cast<long>(i);
    }
    return -1;
}

// Index of the key's line in the section that starts at header, or -1.
long findKey(const std::vector<Line>& lines, long header, const std::string& key) {
    for (size_t i = static_cast<size_t>(header) + 1; i < lines.size() && lines[i].kind != Line::kSection;
         ++i) {
        if (lines[i].kind == Line::kEntry && equalNoCase(lines[i].name, key))
            return static_cast<long>(i);
    }
    return -1;
}

bool lookUp(const std::string& section, const std::string& key, const std::string& file, std::string& value) {
    bool exists;
    std::vector<Line> lines = readLines(file, exists);
    long header = findSection(lines, trim(section));
    if (header < 0)
        return false;
    long entry = findKey(lines, header, trim(key));
    if (entry < 0)
        return false;
    value = lines[static_cast<size_t>(entry)].value;
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
        value = value.substr(1, value.size() - 2);
    return true;
}

bool hasLineBreak(const std::string& text) {
    return text.find_first_of("\r\n") != std::string::npos;
}

// Writes the content to a new file beside the target and renames it over the
// target, keeping the target's permissions when it exists.
bool replaceFile(const std::string& file, const std::string& content, bool exists) {
    mode_t mode = 0666;
    struct stat info;
    if (exists && stat(file.c_str(), &info) == 0)
        mode = info.st_mode & 07777;
    std::string temporary = file + ".XXXXXX";
    std::vector<char> name(temporary.begin(), temporary.end());
    name.push_back('\0');
    int descriptor = mkostemp(name.data(), O_CLOEXEC);
    if (descriptor < 0)
        return false;
    if (!exists) {
        // A new file gets the permissions a plain create would give it.
        mode_t mask = umask(0);
        umask(mask);
        mode &= ~mask;
    }
    bool ok = fchmod(descriptor, mode) == 0;
    size_t done = 0;
    while (ok && done < content.size()) {
        ssize_t wrote = write(descriptor, content.data() + done, content.size() - done);
        if (wrote <= 0)
            ok = false;
        else
            done += static_cast<size_t>(wrote);
    }
    if (close(descriptor) != 0)
        ok = false;
    if (ok && std::rename(name.data(), file.c_str()) != 0)
        ok = false;
    if (!ok)
        unlink(name.data());
    return ok;
}

}  // namespace

std::string getPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, size_t bufferSize,
                                    const std::string& file) {
    std::string value;
    {
        std::lock_guard<std::mutex> guard(profileLock());
        if (!lookUp(section, key, file, value))
            value = defaultValue;
    }
    if (bufferSize == 0)
        return std::string();
    if (value.size() > bufferSize - 1)
        value.resize(bufferSize - 1);
    return value;
}

int getPrivateProfileInt(const std::string& section, const std::string& key, int defaultValue,
                         const std::string& file) {
    std::string value;
    {
        std::lock_guard<std::mutex> guard(profileLock());
        if (!lookUp(section, key, file, value))
            return defaultValue;
    }
    size_t position = 0;
    bool negative = false;
    if (position < value.size() && (value[position] == '-' || value[position] == '+'))
        negative = value[position++] == '-';
    long long result = 0;
    for (; position < value.size() && value[position] >= '0' && value[position] <= '9'; ++position) {
        // Saturate rather than overflow: the limit is reached long before the
        // accumulator could wrap.
        if (result <= static_cast<long long>(INT_MAX) + 1)
            result = result * 10 + (value[position] - '0');
    }
    if (negative)
        result = -result;
    if (result > INT_MAX)
        return INT_MAX;
    if (result < INT_MIN)
        return INT_MIN;
    return static_cast<int>(result);
}

bool writePrivateProfileString(const std::string& section, const std::string& key, const std::string& value,
                               const std::string& file) {
    std::string sectionName = trim(section);
    std::string keyName = trim(key);
    if (sectionName.empty() || keyName.empty() || file.empty() || hasLineBreak(section) ||
        hasLineBreak(key) || hasLineBreak(value) || keyName.find('=') != std::string::npos ||
        keyName[0] == ';' || keyName[0] == '[' || sectionName.find(']') != std::string::npos) {
        return false;
    }

    std::lock_guard<std::mutex> guard(profileLock());
    bool exists;
    bool readable;
    std::vector<Line> lines = readLines(file, exists, &readable);
    if (!readable)
        return false;
    long header = findSection(lines, sectionName);
    if (header < 0) {
        if (!lines.empty() && !trim(lines.back().text).empty())
            lines.push_back(parseLine(""));
        lines.push_back(parseLine("[" + sectionName + "]"));
        lines.push_back(parseLine(keyName + "=" + value));
    } else {
        long entry = findKey(lines, header, keyName);
        if (entry >= 0) {
            Line& line = lines[static_cast<size_t>(entry)];
            line = parseLine(line.name + "=" + value);
        } else {
            // After the section's last entry (or its header), so that blank
            // lines and comments that part it from the next section stay there.
            size_t at = static_cast<size_t>(header) + 1;
            for (size_t i = at; i < lines.size() && lines[i].kind != Line::kSection; ++i) {
                if (lines[i].kind == Line::kEntry)
                    at = i + 1;
            }
            lines.insert(lines.begin() + static_cast<long>(at), parseLine(keyName + "=" + value));
        }
    }

    std::string content;
    for (const Line& line : lines) {
        content += line.text;
        content += '\n';
    }
    return replaceFile(file, content, exists);
}

}  // namespace platform
