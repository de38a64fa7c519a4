// SPDX-License-Identifier: GPL-3.0-or-later
// The settings as text, the way a form and the settings file hold them, and the one set
// of rules that turns that text into Preferences: the Preferences dialog and the reading
// of Tandrel.ini both go through it, so a value means the same wherever it was written.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/Model.h"

namespace tandrel {

// The relay and sender a new installation starts with: made up, under the reserved
// .example domain.
inline constexpr const char* kDefaultSmtp = "mail.provider.example";
inline constexpr const char* kDefaultFromAddress = "you@provider.example";

// The delimiter character: the low 8 bits of the stored code (300 gives ',').
inline char DelimCharOf(std::int32_t code) {
    return static_cast<char>(static_cast<unsigned char>(code & 0xFF));
}

// Every value as text. The counts and the delimiter are decimal (or "0x" hexadecimal)
// numbers, the enumerated values words such as "starttls"; bytes as stored.
struct SettingsForm {
    // [Network]
    std::string smtp;
    std::string name;
    std::string port;
    std::string fromAddress;
    std::string security;
    std::string user;
    std::string timeout;
    std::string perConnection;
    std::string rate;
    std::string connections;
    std::string ehlo;
    std::string auth;
    std::string oauthCommand;
    std::string oauthProvider;
    std::string oauthClientId;
    std::string oauthClientSecret;
    std::string oauthTenant;
    std::string oauthAuthUrl;
    std::string oauthTokenUrl;
    std::string oauthScope;
    // [Database]: the code of the field delimiter; its low 8 bits are the character.
    std::string fieldDelimiter;
};

// One value of the form with the settings file's section and key that store it.
struct SettingsFormField {
    const char* section;
    const char* key;
    std::string SettingsForm::*text;
};
// Every value of the form, in the order of the settings file.
const std::vector<SettingsFormField>& SettingsFormFields();

// A value the form did not take; `field` is its key in the settings file ("smtp",
// "fielddelim"), `text` says why and names it.
struct SettingsProblem {
    std::string field;
    std::string text;
};

struct SettingsFormResult {
    Preferences prefs;
    std::vector<SettingsProblem> problems;
};

// The preferences a settings file without any of the keys gives.
Preferences DefaultPreferences();

// The form showing `prefs`.
SettingsForm FormOf(const Preferences& prefs);

// The form's values as preferences. A value that cannot be stored (a line break, more
// than the settings file keeps, an empty or non-numeric delimiter) leaves the value of
// `before` and is a problem; a count out of its range is brought into it and is a
// problem; a word is spelt as the program spells it, an unknown one kept as written
// (UnknownSettingValues names it). Blanks around the client ID and tenant are dropped.
SettingsFormResult TakeSettingsForm(const SettingsForm& form, const Preferences& before);

// A settings-file integer: decimal with an optional sign, or hexadecimal after "0x"/"0X"
// filling all 32 bits ("0xFFFFFFFF" is -1); nothing for text that does not convert.
std::optional<std::int32_t> ParseSettingsInteger(std::string_view text);

// A problem for each enumerated key whose value the program does not know, naming the
// key and the values it takes: nothing may be sent with such settings.
std::vector<std::string> UnknownSettingValues(const Preferences& prefs);

} // namespace tandrel
