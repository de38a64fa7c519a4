// SPDX-License-Identifier: GPL-3.0-or-later
// The settings file beside the program: a small private-profile layer of our own and
// the reading and writing of Preferences, RecentFiles and the window geometry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/Model.h"
#include "model/SettingsForm.h"

namespace tandrel {

// Behaves like the classic private-profile calls: sections and keys are compared
// without regard to letter case, everything else in the file is kept as it was,
// lines end CR LF.
class Profile {
public:
    explicit Profile(std::string path);
    const std::string& path() const { return path_; }

    // At most 1023 characters, without one pair of surrounding double quotes; `def`
    // when the file, section or key is absent.
    std::string readString(const std::string& section, const std::string& key,
                           const std::string& def) const;
    // Decimal, or hexadecimal after "0x"/"0X"; `def` for text that does not convert.
    std::int32_t readInteger(const std::string& section, const std::string& key,
                             std::int32_t def) const;
    // Creates file, section and key as needed; a value holding CR or LF is written
    // empty, one with blanks at its ends or quotes around it is written in quotes, so
    // that readString gives it back. Returns false when the write fails (the file then keeps its old bytes).
    bool writeString(const std::string& section, const std::string& key, const std::string& value);
    bool WriteInteger(const std::string& section, const std::string& key, std::int32_t value);
    // The errno value of the last failed write (0 after a successful one).
    int lastError() const { return lastError_; }

private:
    std::string path_;
    int lastError_ = 0;
};

struct WindowGeometry {
    int x = 100;
    int y = 100;
    int width = 700;
    int height = 600;
    int paneHeight = 250;
};

// Directory of the running program file (from /proc/self/exe), no trailing separator.
std::string ComputeProgramDir();
// The computer's fully qualified host name; the plain name when none with a dot is
// known (the dialogue then uses an address literal); "" when it is unusable.
std::string ComputeLocalComputerName();

// Start-up read, with every default; also sets delimchar from fielddelim.
void ReadSettings(const Profile& ini, Preferences& prefs, RecentFiles& user, WindowGeometry& geo);
// Preferences write: Network keys then Database fielddelim.
// Throws FileError("Unable to write to <ini path>: <reason>"); the remaining writes are
// skipped.
void WritePrefs(Profile& ini, const Preferences& prefs);
// Exit write. `geo` is null when the window is maximized or minimized (the five
// geometry keys then keep what the file has). Throws like WritePrefs.
void WriteSettings(Profile& ini, const Preferences& prefs, const RecentFiles& user,
                   const WindowGeometry* geo);

// A user name is set but Security is "none": the login would have to go unencrypted,
// which the dialogue refuses.
bool LoginWithoutEncryption(const Preferences& prefs);

} // namespace tandrel
