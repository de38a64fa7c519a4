// SPDX-License-Identifier: GPL-3.0-or-later
// The private-profile reader and writer, and the settings kept in it.
#include "model/Settings.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstring>
#include <initializer_list>
#include <netdb.h>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

#include "model/Errors.h"
#include "model/SafeFile.h"
#include "model/SettingsForm.h"
#include "model/TextFile.h"

namespace tandrel {

namespace {

constexpr std::size_t kMaxValueLength = 1023;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
}

// A line "[name]" (blanks around it allowed) opens a section.
bool SectionName(std::string_view line, std::string_view& name) {
    const std::string_view t = Trim(line);
    if (t.size() < 2 || t.front() != '[') return false;
    const auto close = t.find(']');
    if (close == std::string_view::npos) return false;
    name = Trim(t.substr(1, close - 1));
    return true;
}

// A line "key=value" inside a section; lines starting with ';' are comments.
bool KeyValue(std::string_view line, std::string_view& key, std::string_view& value) {
    const std::string_view t = Trim(line);
    if (t.empty() || t.front() == ';') return false;
    const auto eq = t.find('=');
    if (eq == std::string_view::npos) return false;
    key = Trim(t.substr(0, eq));
    value = Trim(t.substr(eq + 1));
    return true;
}

void Put(Profile& ini, const char* section, const char* key, const std::string& value) {
    if (!ini.writeString(section, key, value))
        throw FileError(FormatPathMessage("Unable to write to %s", ini.path()) + ": " +
                        SystemReason(ini.lastError()));
}

// One pair of double quotes around a value is not part of it, as with the platform's
// profile calls ("a b" reads as a b, ""x"" as "x").
std::string_view Unquoted(std::string_view v) {
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') return v.substr(1, v.size() - 2);
    return v;
}

// The text written after "key=": the value itself, or the value in one pair of double
// quotes when a read would otherwise change it (blanks at its ends are trimmed, a pair
// of quotes around it removed). Plain values stay as they always were in the file.
std::string StoredForm(const std::string& value) {
    const bool changedByRead = Trim(value).size() != value.size() || Unquoted(value) != value;
    return changedByRead ? "\"" + value + "\"" : value;
}

void PutInt(Profile& ini, const char* section, const char* key, std::int32_t value) {
    Put(ini, section, key, std::to_string(value));
}

// Keys added after the first releases are written only when they hold something other
// than their default or are in the file already, so a file that never used them stays
// byte for byte as it was, and going back to a default is still stored.
void PutOptional(Profile& ini, const char* key, const std::string& value, const std::string& def,
                 const char* section = "Network") {
    // No stored value can hold a line feed, so this default means "absent".
    const bool present = ini.readString(section, key, "\n") != "\n";
    if (present || value != def) Put(ini, section, key, value);
}

void PutPrefs(Profile& ini, const Preferences& prefs) {
    Put(ini, "Network", "smtp", prefs.smtp);
    Put(ini, "Network", "name", prefs.name);
    Put(ini, "Network", "port", prefs.port);
    Put(ini, "Network", "fromaddy", prefs.fromAddress);
    PutOptional(ini, "security", prefs.security, "none");
    PutOptional(ini, "user", prefs.user, "");
    PutOptional(ini, "timeout", std::to_string(prefs.timeoutSeconds), "0");
    PutOptional(ini, "perconnection", std::to_string(prefs.perConnection), "0");
    PutOptional(ini, "rate", std::to_string(prefs.ratePerMinute), "0");
    PutOptional(ini, "ehlo", prefs.ehlo, "no");
    PutOptional(ini, "connections", std::to_string(prefs.connections), "1");
    PutOptional(ini, "auth", prefs.auth, "password");
    PutOptional(ini, "oauthcommand", prefs.oauthCommand, "");
    PutOptional(ini, "oauthprovider", prefs.oauthProvider, "microsoft");
    PutOptional(ini, "oauthclientid", prefs.oauthClientId, "");
    PutOptional(ini, "oauthclientsecret", prefs.oauthClientSecret, "");
    PutOptional(ini, "oauthtenant", prefs.oauthTenant, "common");
    PutOptional(ini, "oauthauthurl", prefs.oauthAuthUrl, "");
    PutOptional(ini, "oauthtokenurl", prefs.oauthTokenUrl, "");
    PutOptional(ini, "oauthscope", prefs.oauthScope, "");
    PutInt(ini, "Database", "fielddelim", prefs.fieldDelimiter);
}

// Letters, digits, '-' and '.' only: the name goes into the dialogue with the server.
bool IsHostName(std::string_view s) {
    if (s.empty() || s.size() > 253) return false;
    for (const char c : s) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '.';
        if (!ok) return false;
    }
    return true;
}

} // namespace

Profile::Profile(std::string path) : path_(std::move(path)) {}

std::string Profile::readString(const std::string& section, const std::string& key,
                                const std::string& def) const {
    std::string text;
    if (ReadRegularFile(path_, text) == FileReadResult::Ok) {
        bool inSection = false;
        // Unlike the user's text files, a NUL byte does not end the settings file:
        // whatever the file holds is kept when a key is written.
        for (const auto& line : SplitAtLineEnds(text)) {
            std::string_view name, k, v;
            if (SectionName(line, name)) {
                inSection = SameName(name, section);
            } else if (inSection && KeyValue(line, k, v) && SameName(k, key)) {
                return std::string(Unquoted(v).substr(0, kMaxValueLength));
            }
        }
    }
    return def.substr(0, kMaxValueLength);
}

std::int32_t Profile::readInteger(const std::string& section, const std::string& key,
                                  std::int32_t def) const {
    return ParseSettingsInteger(readString(section, key, "")).value_or(def);
}

bool Profile::writeString(const std::string& section, const std::string& key,
                          const std::string& rawValue) {
    // A line break in a value (a file name may hold one) would start a line of its own,
    // which the next read takes for a key or a section: such a value is not kept.
    const std::string value =
        rawValue.find_first_of("\r\n") == std::string::npos ? StoredForm(rawValue) : std::string();
    std::string text;
    lastError_ = 0;
    errno = 0;
    switch (ReadRegularFile(path_, text)) {
    case FileReadResult::Ok:
        break;
    case FileReadResult::Missing:
        text.clear();
        break;
    case FileReadResult::Failed: // never wipe a file that could not be read
        if (errno != 0) {
            lastError_ = errno;
        } else { // opened, but not a regular file
            struct stat sb {};
            const bool dir = ::stat(path_.c_str(), &sb) == 0 && S_ISDIR(sb.st_mode);
            lastError_ = dir ? EISDIR : EINVAL;
        }
        return false;
    }
    std::vector<std::string> lines = SplitAtLineEnds(text);

    // The key is replaced where a read would find it; a new key goes to the end of
    // the first section of that name (after its last non-blank line), a new section
    // to the end of the file.
    std::size_t keyLine = std::string::npos;
    std::size_t insertAt = std::string::npos;
    bool inSection = false;
    bool inFirstSection = false;
    for (std::size_t i = 0; i < lines.size() && keyLine == std::string::npos; ++i) {
        std::string_view name, k, v;
        if (SectionName(lines[i], name)) {
            inSection = SameName(name, section);
            inFirstSection = inSection && insertAt == std::string::npos;
            if (inFirstSection) insertAt = i + 1;
        } else if (inSection && KeyValue(lines[i], k, v) && SameName(k, key)) {
            keyLine = i;
            lines[i] = std::string(k) + "=" + value;
        } else if (inFirstSection && !Trim(lines[i]).empty()) {
            insertAt = i + 1;
        }
    }
    if (keyLine == std::string::npos) {
        if (insertAt != std::string::npos) {
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), key + "=" + value);
        } else {
            if (!lines.empty() && !Trim(lines.back()).empty()) lines.emplace_back();
            lines.push_back("[" + section + "]");
            lines.push_back(key + "=" + value);
        }
    }

    std::string out;
    out.reserve(text.size() + key.size() + value.size() + section.size() + 16);
    for (const auto& l : lines) {
        out += l;
        out += "\r\n";
    }
    lastError_ = ReplaceFileContent(path_, out);
    return lastError_ == 0;
}

bool Profile::WriteInteger(const std::string& section, const std::string& key, std::int32_t value) {
    return writeString(section, key, std::to_string(value));
}

std::string ComputeProgramDir() {
    std::array<char, PATH_MAX + 1> buf{};
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), PATH_MAX);
    if (n <= 0) return ".";
    std::string exe(buf.data(), static_cast<std::size_t>(n));
    const auto slash = exe.rfind('/');
    if (slash == std::string::npos) return ".";
    return exe.substr(0, slash); // "" for a program in "/": its files are "/Tandrel.ini"
}

std::string ComputeLocalComputerName() {
    std::array<char, 256> buf{};
    if (::gethostname(buf.data(), buf.size() - 1) != 0) return "";
    std::string name(buf.data());
    if (!IsHostName(name)) return "";
    if (name.find('.') != std::string::npos) return name;
    // A name without a dot is asked for its canonical name, which is usually the
    // fully qualified one (from /etc/hosts or the resolver).
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) == 0 && found) {
        const char* canon = found->ai_canonname;
        if (canon && std::strchr(canon, '.') && IsHostName(canon)) name = canon;
        ::freeaddrinfo(found);
    }
    return name;
}

void ReadSettings(const Profile& ini, Preferences& prefs, RecentFiles& user, WindowGeometry& geo) {
    // The file's values go through the rules of the Preferences form; a key that is
    // absent reads as the value a fresh file would have.
    const Preferences defaults = DefaultPreferences();
    SettingsForm form = FormOf(defaults);
    for (const SettingsFormField& field : SettingsFormFields())
        form.*field.text = ini.readString(field.section, field.key, form.*field.text);
    prefs = TakeSettingsForm(form, defaults).prefs;
    user.lastMail = ini.readString("User", "lastmail", "");
    user.lastFields = ini.readString("User", "lastfields", "");
    user.lastDatabase = ini.readString("User", "lastdb", "");
    user.lastDatabaseEmailColumn = ini.readString("User", "lastdbemailcolumn", "");
    geo.paneHeight = ini.readInteger("User", "TPaneHeight", 250);
    geo.x = ini.readInteger("User", "MainWinXPos", 100);
    geo.y = ini.readInteger("User", "MainWinYPos", 100);
    geo.width = ini.readInteger("User", "MainWinWidth", 700);
    geo.height = ini.readInteger("User", "MainWinHeight", 600);
}

void WritePrefs(Profile& ini, const Preferences& prefs) {
    PutPrefs(ini, prefs);
}

void WriteSettings(Profile& ini, const Preferences& prefs, const RecentFiles& user,
                   const WindowGeometry* geo) {
    PutPrefs(ini, prefs);
    Put(ini, "User", "lastmail", user.lastMail);
    Put(ini, "User", "lastfields", user.lastFields);
    Put(ini, "User", "lastdb", user.lastDatabase);
    PutOptional(ini, "lastdbemailcolumn", user.lastDatabaseEmailColumn, "", "User");
    if (!geo) return;
    PutInt(ini, "User", "MainWinXPos", geo->x);
    PutInt(ini, "User", "MainWinYPos", geo->y);
    PutInt(ini, "User", "MainWinWidth", geo->width);
    PutInt(ini, "User", "MainWinHeight", geo->height);
    PutInt(ini, "User", "TPaneHeight", geo->paneHeight);
}

bool LoginWithoutEncryption(const Preferences& prefs) {
    return !prefs.user.empty() && prefs.security == "none";
}

} // namespace tandrel
