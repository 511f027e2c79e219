#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <utility>

namespace rendova::test {

// The text as one single-quoted shell word.
inline std::string shellQuote(const std::string& text) {
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Runs a shell command (its standard error discarded) and gives its exit
// status (-1 when it did not exit normally) and its standard output; the
// corpus tests run the peers through it.
inline std::pair<int, std::string> runShell(const std::string& command) {
    std::string out;
    FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe)
        return {-1, out};
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

}  // namespace rendova::test
