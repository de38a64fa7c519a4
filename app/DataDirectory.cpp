// SPDX-License-Identifier: GPL-3.0-or-later
// Choosing between the program's own folder and the per-user configuration folder.
#include "app/DataDirectory.h"

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

// The program's folder is the bin folder of an installation prefix when its desktop
// entry lies where `cmake --install` puts it under the same prefix.
bool IsInstalledUnderPrefix(const std::string& programDir) {
    const std::string bin = "/" TANDREL_BIN_IN_PREFIX;
    if (!programDir.ends_with(bin)) return false;
    const std::string entry =
        programDir.substr(0, programDir.size() - bin.size()) + "/" TANDREL_ENTRY_IN_PREFIX;
    struct stat info {};
    return ::stat(entry.c_str(), &info) == 0 && S_ISREG(info.st_mode);
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
    // A prefix's bin folder (~/.local/bin, say) is shared by many programs and may well be
    // writable: the settings and logs of one of them do not belong there.
    if (!IsInstalledUnderPrefix(programDir) && IsWritableDirectory(programDir)) return programDir;
    const std::string dir = UserConfigDirectory();
    MakeDirectories(dir);
    return dir;
}

} // namespace tandrel
