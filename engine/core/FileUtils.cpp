#include "engine/core/FileUtils.h"

#include <climits>
#include <cstring>
#include <string>

#include "engine/core/Memory.h"
#include "engine/core/ScopeExit.h"
#include "platform/Paths.h"
#include "platform/TempFile.h"

namespace rendova {

namespace {

// Temporary files of the engine (font programs handed to FreeType) are
// recognisable by this start of their names.
constexpr const char* kTempFilePrefix = "rendova";

void assign(DynString& target, const std::string& text) {
    if (text.size() > static_cast<size_t>(INT_MAX))
        throw MemoryException();
    target.clear();
    target.appendBytes(text.data(), static_cast<int>(text.size()));
}

std::unique_ptr<DynString> newString(const std::string& text) {
    auto result = std::make_unique<DynString>();
    assign(*result, text);
    return result;
}

// The index of the last `c` in the string's bytes, or -1.
int lastIndexOf(const DynString& string, char c) {
    for (int i = string.getLength() - 1; i >= 0; --i) {
        if (string.getChar(i) == c)
            return i;
    }
    return -1;
}

}  // namespace

std::unique_ptr<DynString> getHomeDir() {
    return newString(platform::homeDirectory());
}

DynString& makePathAbsolute(DynString& directory, const char* name) {
    std::string joined(directory.getCString(), static_cast<size_t>(directory.getLength()));
    joined += '/';
    if (name)
        joined += name;
    std::string full = platform::absolutePath(joined);
    assign(directory, full.empty() ? joined : full);
    return directory;
}

std::unique_ptr<DynString> directoryOf(const DynString& path) {
    int cut = lastIndexOf(path, '/');
    if (cut < 0)
        cut = lastIndexOf(path, '\\');
    if (cut < 0) {
        int colon = lastIndexOf(path, ':');
        cut = colon < 0 ? 0 : colon + 1;
    }
    return std::make_unique<DynString>(path, 0, cut);
}

int openTempFile(std::unique_ptr<DynString>& name, FILE*& file, const char* mode, const char* suffix) {
    platform::TempFile created = platform::createTempFile(kTempFilePrefix, suffix ? suffix : "", mode);
    if (!created.file)
        return 0;
    // A file whose name cannot be handed out is closed and removed again.
    ScopeExit discard([&created] {
        std::fclose(created.file);
        std::remove(created.path.c_str());
    });
    name = newString(created.path);
    discard.dismiss();
    file = created.file;
    return 1;
}

char* readLine(char* buffer, int size, FILE* file) {
    if (!buffer || size < 1 || !file)
        return nullptr;
    int count = 0;
    while (count < size - 1) {
        int c = std::fgetc(file);
        if (c == EOF)
            break;
        buffer[count++] = static_cast<char>(c);
        if (c == '\n')
            break;
        if (c == '\r') {
            // CR LF is one line end; any other byte after a CR begins the next line.
            int next = std::fgetc(file);
            if (next == '\n' && count < size - 1) {
                buffer[count++] = '\n';
            } else if (next != EOF) {
                std::ungetc(next, file);
            }
            break;
        }
    }
    buffer[count] = '\0';
    return count == 0 ? nullptr : buffer;
}

}  // namespace rendova
