#pragma once

#include <string>

namespace glimmark {

// The program's settings file "Settings.ini": sections "Settings" and
// "Other", read and written key by key through the platform's profile
// functions. Holds only the file's path; copies are cheap. UI thread (the
// profile functions themselves may be called from any thread).
class SettingsFile {
public:
    static constexpr const char* kFileName = "Settings.ini";
    static constexpr const char* kSettings = "Settings";
    static constexpr const char* kOther = "Other";
    // Text values are read as into a buffer of a path's size.
    static constexpr size_t kTextBufferSize = 260;

    SettingsFile() = default;
    explicit SettingsFile(std::string path) : m_path(std::move(path)) {}

    // Where the settings live for a program in programFolder (ending in '/'):
    // beside the program when a file can be written there, else in the user's
    // configuration folder for the program, which is created when missing.
    static std::string locate(const std::string& programFolder);

    const std::string& path() const { return m_path; }

    int readInt(const char* key, int defaultValue, const char* section = kSettings) const;
    std::string readText(const char* key, const std::string& defaultValue,
                         const char* section = kSettings) const;
    // Integers are written as "%d". Failures (a folder that cannot be
    // written) are not reported: the program goes on with what it holds.
    void writeInt(const char* key, int value, const char* section = kSettings) const;
    void writeText(const char* key, const std::string& value, const char* section = kSettings) const;

private:
    std::string m_path;
};

}  // namespace glimmark
