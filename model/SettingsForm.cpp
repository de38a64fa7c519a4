// SPDX-License-Identifier: GPL-3.0-or-later
// The rules of the settings' values, shared by the Preferences dialog and Tandrel.ini.
#include "model/SettingsForm.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <system_error>


namespace tandrel {

namespace {

// What the settings file gives back of a value (Profile::readString).
constexpr std::size_t kMaxStoredLength = 1023;
constexpr int kNoLimit = std::numeric_limits<int>::max();

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameWord(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return AsciiLower(x) == AsciiLower(y);
           });
}

// The keys of [Network] that take one of a few words, the first being the default.
struct EnumeratedKey {
    const char* key;
    std::vector<const char*> words;
};
const EnumeratedKey kSecurityKey{"security", {"none", "starttls", "tls"}};
const EnumeratedKey kAuthKey{"auth", {"password", "oauth2"}};
const EnumeratedKey kEhloKey{"ehlo", {"no", "yes"}};
const EnumeratedKey kOAuthProviderKey{"oauthprovider", {"microsoft", "google", "custom"}};

// The word as the program spells it (compared without regard to case); empty text is
// the default. Any other text is kept as written, so that it is never taken for a
// known word (an unknown security value must not mean plain text) and survives a
// write of the settings; the check before sending names it.
std::string KnownWord(const std::string& text, const EnumeratedKey& key) {
    if (text.empty()) return key.words.front();
    for (const char* word : key.words)
        if (SameWord(text, word)) return word;
    return text;
}

// "none, starttls or tls"
std::string WordList(const EnumeratedKey& key) {
    std::string out;
    for (std::size_t i = 0; i < key.words.size(); ++i)
        out += (i == 0                      ? ""
                : i + 1 == key.words.size() ? " or "
                                            : ", ") +
               std::string(key.words[i]);
    return out;
}

void CheckKnown(const std::string& value, const EnumeratedKey& key,
                std::vector<std::string>& problems) {
    for (const char* word : key.words)
        if (value == word) return;
    problems.push_back("Tandrel.ini: " + std::string(key.key) + "=" + value +
                       " is not a known value; use " + WordList(key));
}

bool ParseDecimal(std::string_view s, std::int32_t& out) {
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    if (s.empty() || s.front() == '+') return false;
    std::int32_t v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, 10);
    if (ec != std::errc() || end != s.data() + s.size()) return false;
    out = v;
    return true;
}

bool ParseHex(std::string_view s, std::int32_t& out) {
    if (s.empty() || s.front() == '-' || s.front() == '+') return false;
    std::uint32_t v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, 16);
    if (ec != std::errc() || end != s.data() + s.size()) return false;
    out = static_cast<std::int32_t>(v);
    return true;
}

// Reads the form into the preferences, one value at a time, noting what it did not take.
class FormReader {
public:
    FormReader(const Preferences& before, std::vector<SettingsProblem>& problems)
        : before_(before), problems_(problems) {}

    // Text the settings file can store: one line, at most what a read gives back.
    bool storable(const char* key, const std::string& value) {
        if (value.find_first_of("\r\n") != std::string::npos) {
            kept(key, "holds a line break");
            return false;
        }
        if (value.size() > kMaxStoredLength) {
            kept(key, "is longer than " + std::to_string(kMaxStoredLength) + " characters");
            return false;
        }
        return true;
    }

    void text(const char* key, const std::string& value, std::string Preferences::*out,
              Preferences& prefs) {
        prefs.*out = storable(key, value) ? value : before_.*out;
    }

    // Blanks around it are not part of it (it goes into addresses).
    void trimmedText(const char* key, const std::string& value, std::string Preferences::*out,
                     Preferences& prefs) {
        constexpr std::string_view kBlanks = " \t\r\n\v\f";
        const auto first = value.find_first_not_of(kBlanks);
        const std::string trimmed =
            first == std::string::npos
                ? std::string()
                : value.substr(first, value.find_last_not_of(kBlanks) - first + 1);
        text(key, trimmed, out, prefs);
    }

    void word(const EnumeratedKey& key, const std::string& value, std::string Preferences::*out,
              Preferences& prefs) {
        prefs.*out = storable(key.key, value) ? KnownWord(value, key) : before_.*out;
    }

    void count(const char* key, const std::string& value, int lowest, int highest,
               int Preferences::*out, Preferences& prefs) {
        const std::optional<std::int32_t> number = ParseSettingsInteger(value);
        if (!number) {
            kept(key, "is not a number");
            prefs.*out = before_.*out;
            return;
        }
        prefs.*out = std::clamp<int>(*number, lowest, highest);
        if (prefs.*out != *number)
            problem(key, std::string(key) + " " + value + " is outside " + std::to_string(lowest) +
                             " to " + std::to_string(highest) + "; " + std::to_string(prefs.*out) +
                             " is used");
    }

    // A delimiter that stays is the character in use, stored as its own code.
    void delimiter(const std::string& value, Preferences& prefs) {
        const std::optional<std::int32_t> code =
            value.empty() ? std::nullopt : ParseSettingsInteger(value);
        if (!code) {
            kept("fielddelim", value.empty() ? "is empty" : "is not a number");
            prefs.delimiterChar = before_.delimiterChar;
            prefs.fieldDelimiter = static_cast<unsigned char>(before_.delimiterChar);
            return;
        }
        prefs.fieldDelimiter = *code;
        prefs.delimiterChar = DelimCharOf(*code);
    }

private:
    void problem(const char* key, std::string text) { problems_.push_back({key, std::move(text)}); }
    // A value not taken: the one before stays.
    void kept(const char* key, const std::string& why) {
        problem(key, std::string(key) + " " + why + "; it stays as it was");
    }

    const Preferences& before_;
    std::vector<SettingsProblem>& problems_;
};

} // namespace

std::optional<std::int32_t> ParseSettingsInteger(std::string_view text) {
    std::int32_t v = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        return ParseHex(text.substr(2), v) ? std::optional(v) : std::nullopt;
    return ParseDecimal(text, v) ? std::optional(v) : std::nullopt;
}

const std::vector<SettingsFormField>& SettingsFormFields() {
    using F = SettingsForm;
    static const std::vector<SettingsFormField> fields = {
        {"Network", "smtp", &F::smtp},
        {"Network", "name", &F::name},
        {"Network", "port", &F::port},
        {"Network", "fromaddy", &F::fromAddress},
        {"Network", "security", &F::security},
        {"Network", "user", &F::user},
        {"Network", "timeout", &F::timeout},
        {"Network", "perconnection", &F::perConnection},
        {"Network", "rate", &F::rate},
        {"Network", "ehlo", &F::ehlo},
        {"Network", "connections", &F::connections},
        {"Network", "auth", &F::auth},
        {"Network", "oauthcommand", &F::oauthCommand},
        {"Network", "oauthprovider", &F::oauthProvider},
        {"Network", "oauthclientid", &F::oauthClientId},
        {"Network", "oauthclientsecret", &F::oauthClientSecret},
        {"Network", "oauthtenant", &F::oauthTenant},
        {"Network", "oauthauthurl", &F::oauthAuthUrl},
        {"Network", "oauthtokenurl", &F::oauthTokenUrl},
        {"Network", "oauthscope", &F::oauthScope},
        {"Database", "fielddelim", &F::fieldDelimiter},
    };
    return fields;
}

Preferences DefaultPreferences() {
    Preferences prefs;
    prefs.smtp = kDefaultSmtp;
    prefs.name = "Your Name";
    prefs.port = "25";
    prefs.fromAddress = kDefaultFromAddress;
    return prefs;
}

SettingsForm FormOf(const Preferences& prefs) {
    SettingsForm form;
    form.smtp = prefs.smtp;
    form.name = prefs.name;
    form.port = prefs.port;
    form.fromAddress = prefs.fromAddress;
    form.security = prefs.security;
    form.user = prefs.user;
    form.timeout = std::to_string(prefs.timeoutSeconds);
    form.perConnection = std::to_string(prefs.perConnection);
    form.rate = std::to_string(prefs.ratePerMinute);
    form.connections = std::to_string(prefs.connections);
    form.ehlo = prefs.ehlo;
    form.auth = prefs.auth;
    form.oauthCommand = prefs.oauthCommand;
    form.oauthProvider = prefs.oauthProvider;
    form.oauthClientId = prefs.oauthClientId;
    form.oauthClientSecret = prefs.oauthClientSecret;
    form.oauthTenant = prefs.oauthTenant;
    form.oauthAuthUrl = prefs.oauthAuthUrl;
    form.oauthTokenUrl = prefs.oauthTokenUrl;
    form.oauthScope = prefs.oauthScope;
    form.fieldDelimiter = std::to_string(prefs.fieldDelimiter);
    return form;
}

SettingsFormResult TakeSettingsForm(const SettingsForm& form, const Preferences& before) {
    SettingsFormResult result;
    Preferences& p = result.prefs;
    FormReader read(before, result.problems);
    using P = Preferences;
    read.text("smtp", form.smtp, &P::smtp, p);
    read.text("name", form.name, &P::name, p);
    read.text("port", form.port, &P::port, p);
    read.text("fromaddy", form.fromAddress, &P::fromAddress, p);
    read.word(kSecurityKey, form.security, &P::security, p);
    // A line break in the name would become part of the login command.
    read.text("user", form.user, &P::user, p);
    read.count("timeout", form.timeout, 0, kNoLimit, &P::timeoutSeconds, p);
    read.count("perconnection", form.perConnection, 0, kNoLimit, &P::perConnection, p);
    read.count("rate", form.rate, 0, kNoLimit, &P::ratePerMinute, p);
    read.count("connections", form.connections, 1, kMaxConnections, &P::connections, p);
    read.word(kEhloKey, form.ehlo, &P::ehlo, p);
    read.word(kAuthKey, form.auth, &P::auth, p);
    read.text("oauthcommand", form.oauthCommand, &P::oauthCommand, p);
    read.word(kOAuthProviderKey, form.oauthProvider, &P::oauthProvider, p);
    read.trimmedText("oauthclientid", form.oauthClientId, &P::oauthClientId, p);
    read.text("oauthclientsecret", form.oauthClientSecret, &P::oauthClientSecret, p);
    read.trimmedText("oauthtenant", form.oauthTenant, &P::oauthTenant, p);
    read.text("oauthauthurl", form.oauthAuthUrl, &P::oauthAuthUrl, p);
    read.text("oauthtokenurl", form.oauthTokenUrl, &P::oauthTokenUrl, p);
    read.text("oauthscope", form.oauthScope, &P::oauthScope, p);
    read.delimiter(form.fieldDelimiter, p);
    return result;
}

std::vector<std::string> UnknownSettingValues(const Preferences& prefs) {
    std::vector<std::string> problems;
    CheckKnown(prefs.security, kSecurityKey, problems);
    CheckKnown(prefs.auth, kAuthKey, problems);
    CheckKnown(prefs.oauthProvider, kOAuthProviderKey, problems);
    CheckKnown(prefs.ehlo, kEhloKey, problems);
    return problems;
}

} // namespace tandrel
