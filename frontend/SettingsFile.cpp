#include "frontend/SettingsFile.h"

#include "platform/FileSystem.h"
#include "platform/IniProfile.h"
#include "platform/UserFolders.h"

namespace glimmark {

std::string SettingsFile::locate(const std::string& programFolder) {
    if (!programFolder.empty() && platform::isWritableDirectory(programFolder)) {
        std::string folder = programFolder;
        if (folder.back() != '/')
            folder += '/';
        return folder + kFileName;
    }
    std::string folder = platform::userConfigDirectory("glimmark");
    platform::createDirectoryChain(folder);
    return folder + kFileName;
}

int SettingsFile::readInt(const char* key, int defaultValue, const char* section) const {
    return platform::getPrivateProfileInt(section, key, defaultValue, m_path);
}

std::string SettingsFile::readText(const char* key, const std::string& defaultValue,
                                   const char* section) const {
    return platform::getPrivateProfileString(section, key, defaultValue, kTextBufferSize, m_path);
}

void SettingsFile::writeInt(const char* key, int value, const char* section) const {
    platform::writePrivateProfileString(section, key, std::to_string(value), m_path);
}

void SettingsFile::writeText(const char* key, const std::string& value, const char* section) const {
    platform::writePrivateProfileString(section, key, value, m_path);
}

}  // namespace glimmark
