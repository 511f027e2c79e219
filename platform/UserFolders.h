#pragma once

#include <string>

namespace platform {

// The folder where a program keeps its settings when it cannot keep them
// beside itself: $XDG_CONFIG_HOME/<program>/ when that variable holds an
// absolute path, else ~/.config/<program>/ under homeDirectory(). Ends in '/';
// the folder is not created here. Any thread.
std::string userConfigDirectory(const std::string& program);

// True when a file can be created in the folder: a new file is made there and
// removed again, which also answers for the superuser and for read-only
// mounts, where the permission bits alone do not tell. Any thread.
bool isWritableDirectory(const std::string& folder);

}  // namespace platform
