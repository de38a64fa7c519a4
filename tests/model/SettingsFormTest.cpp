// SPDX-License-Identifier: GPL-3.0-or-later
// The settings form against the settings file: whatever the form takes is what
// Tandrel.ini gives back after a save, and what it does not take is a problem that names
// the value and leaves the one before.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "model/Settings.h"
#include "model/SettingsForm.h"
#include "tests/support/HostileText.h"
#include "tests/support/TestSupport.h"

using namespace tandrel;

namespace {

const SettingsFormField& FieldNamed(const std::string& key) {
    for (const SettingsFormField& f : SettingsFormFields())
        if (key == f.key) return f;
    ADD_FAILURE() << "no field " << key;
    return SettingsFormFields().front();
}

// The preferences the form had before: not the defaults, so that "kept" can be told
// from "reset".
Preferences Before() {
    Preferences p = DefaultPreferences();
    p.smtp = "relay.before.example";
    p.user = "before";
    p.timeoutSeconds = 7;
    p.connections = 2;
    p.oauthClientId = "client-before";
    p.fieldDelimiter = '|';
    p.delimiterChar = '|';
    return p;
}

struct Outcome {
    SettingsFormResult taken;
    Preferences readBack;
};

Outcome SaveAndRead(const test::TempDir& dir, const std::string& key, const std::string& value) {
    const std::string path = dir.file("Tandrel.ini");
    std::remove(path.c_str());
    SettingsForm form = FormOf(Before());
    form.*FieldNamed(key).text = value;
    Outcome out{TakeSettingsForm(form, Before()), {}};
    Profile ini(path);
    WritePrefs(ini, out.taken.prefs);
    RecentFiles user;
    WindowGeometry geo;
    ReadSettings(ini, out.readBack, user, geo);
    return out;
}

// Every value of both preferences, compared as the form shows them.
void ExpectSame(const Preferences& read, const Preferences& taken, const std::string& row) {
    const SettingsForm a = FormOf(read);
    const SettingsForm b = FormOf(taken);
    for (const SettingsFormField& f : SettingsFormFields())
        EXPECT_EQ(a.*f.text, b.*f.text) << row << ": " << f.key << " read back differs";
    EXPECT_EQ(read.delimiterChar, taken.delimiterChar) << row;
}

void ExpectProblemsName(const SettingsFormResult& r, const std::string& key,
                        const std::string& row) {
    for (const SettingsProblem& p : r.problems) {
        EXPECT_EQ(p.field, key) << row << ": " << p.text;
        EXPECT_NE(p.text.find(key), std::string::npos) << row << ": " << p.text;
    }
}

std::string Shown(const std::string& s) {
    std::string out;
    for (const unsigned char c : s)
        out += c >= 0x20 && c < 0x7f ? std::string(1, static_cast<char>(c))
                                     : "\\x" + std::string(1, "0123456789abcdef"[c >> 4]) +
                                           "0123456789abcdef"[c & 15];
    return out;
}

TEST(SettingsForm, WhatTheFormTakesIsWhatTheSettingsFileGivesBack) {
    struct Row {
        const char* key;
        std::string value;
        bool problem;
    };
    const std::vector<Row> rows = {
        {"smtp", "relay.example.net", false},
        {"smtp", "  spaced out\t", false},
        {"smtp", "\"quoted\"", false},
        {"smtp", "a;b=c [Network] #x", false},
        {"smtp", "relay\r\nRCPT TO:<x@example.org>", true},
        {"name", "Ann\n", true},
        {"user", "ann\r", true},
        {"fromaddy", std::string(1023, 'a'), false},
        {"fromaddy", std::string(1024, 'a'), true},
        {"port", "smtp", false},
        {"name", "\xe9t\xe9 \xc3\xa9", false},
        {"security", "STARTTLS", false},
        {"security", "plaintext-please", false}, // kept as written, named before sending
        {"security", "", false},
        {"ehlo", "Yes", false},
        {"oauthprovider", "GOOGLE", false},
        {"timeout", "30", false},
        {"timeout", "0x1E", false},
        {"timeout", "-5", true},
        {"timeout", "soon", true},
        {"timeout", "2147483648", true},
        {"perconnection", "", true},
        {"rate", "+60", false},
        {"connections", "3", false},
        {"connections", "0", true},
        {"connections", "99", true},
        {"oauthclientid", "  1234-abc.apps.example \t", false},
        {"oauthtenant", "\r\n", false}, // only blanks: none left
        {"oauthclientid", "id\nwith break", true},
        {"oauthscope", "openid email", false},
        {"fielddelim", "44", false},
        {"fielddelim", "300", false}, // a code of a file: its low byte is the character
        {"fielddelim", "-1", false},
        {"fielddelim", "", true},
        {"fielddelim", ";", true},
    };
    test::TempDir dir;
    for (const Row& row : rows) {
        const std::string name = std::string(row.key) + "=" + Shown(row.value);
        const Outcome o = SaveAndRead(dir, row.key, row.value);
        ExpectSame(o.readBack, o.taken.prefs, name);
        ExpectProblemsName(o.taken, row.key, name);
        EXPECT_EQ(!o.taken.problems.empty(), row.problem) << name;
    }

    // A value not taken leaves the one before; a count out of range is brought into it.
    const Outcome refused = SaveAndRead(dir, "user", "ann\r\nAUTH");
    EXPECT_EQ(refused.readBack.user, "before");
    const Outcome emptyDelimiter = SaveAndRead(dir, "fielddelim", "");
    EXPECT_EQ(emptyDelimiter.readBack.delimiterChar, '|');
    const Outcome negative = SaveAndRead(dir, "timeout", "-5");
    EXPECT_EQ(negative.readBack.timeoutSeconds, 0);
}

// Generated hostile texts in every free-text value at once: each is taken exactly as
// typed (read back byte for byte) or refused with a problem naming it.
TEST(SettingsForm, HostileTextsAreTakenExactlyOrRefusedByName) {
    const test::SeededRun run;
    test::HostileText gen(run.seed);
    const std::vector<std::string> textKeys = {"smtp",
                                               "name",
                                               "port",
                                               "fromaddy",
                                               "user",
                                               "oauthcommand",
                                               "oauthclientsecret",
                                               "oauthauthurl",
                                               "oauthtokenurl",
                                               "oauthscope"};
    test::TempDir dir;
    const std::string path = dir.file("Tandrel.ini");
    int taken = 0;
    for (int i = 0; i < 40; ++i) {
        SettingsForm form = FormOf(Before());
        for (const std::string& key : textKeys)
            form.*FieldNamed(key).text = gen.value(
                i % 2 ? test::HostileCharset::Windows1252 : test::HostileCharset::Utf8, 40);
        const SettingsFormResult result = TakeSettingsForm(form, Before());
        std::remove(path.c_str());
        Profile ini(path);
        WritePrefs(ini, result.prefs);
        Preferences back;
        RecentFiles user;
        WindowGeometry geo;
        ReadSettings(ini, back, user, geo);
        ExpectSame(back, result.prefs, "round " + std::to_string(i));
        for (const std::string& key : textKeys) {
            const std::string typed = form.*FieldNamed(key).text;
            const std::string name = key + "=" + Shown(typed);
            const std::string readBack = FormOf(back).*FieldNamed(key).text;
            std::vector<SettingsProblem> named;
            for (const SettingsProblem& p : result.problems)
                if (p.field == key) named.push_back(p);
            if (named.empty()) {
                EXPECT_EQ(readBack, typed) << name;
                ++taken;
            } else {
                EXPECT_EQ(readBack, FormOf(Before()).*FieldNamed(key).text) << name;
                EXPECT_NE(named.front().text.find(key), std::string::npos) << name;
            }
        }
        for (const SettingsProblem& p : result.problems)
            EXPECT_NE(std::find(textKeys.begin(), textKeys.end(), p.field), textKeys.end())
                << p.text;
    }
    EXPECT_GT(taken, 100); // the rule refuses what the file cannot hold, not everything
}

} // namespace
