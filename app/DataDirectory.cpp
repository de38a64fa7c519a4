// Choosing between the program's own folder and the per-user configuration folder.
#include "DataDirectory.h"

#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tandrel {

namespace {

bool IsWritableDirectory(const std::string& dir) {
    struct stat info {};
    return !dir.empty() && ::stat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
           ::access(dir.c_str(), W_OK | X_OK) == 0;
}

std::string HomeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/tmp";
}

// mkdir -p; the folders are private, like the logs of whom one has written to.
void MakeDirectories(const std::string& dir) {
    for (std::size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos == dir.size() || dir[pos] == '/') ::mkdir(dir.substr(0, pos).c_str(), 0700);
    }
}

} // namespace

std::string UserConfigDirectory() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    // Relative values are invalid for this variable and would depend on the working folder.
    std::string base = xdg && xdg[0] == '/' ? std::string(xdg) : HomeDirectory() + "/.config";
    while (!base.empty() && base.back() == '/')
        base.pop_back();
    return base + "/tandrel";
}

std::string ChooseDataDirectory(const std::string& programDir) {
    if (IsWritableDirectory(programDir)) return programDir;
    const std::string dir = UserConfigDirectory();
    MakeDirectories(dir);
    return dir;
}

} // namespace tandrel
