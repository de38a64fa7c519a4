// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <memory>

#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

#include "model/Errors.h"
#include "model/Settings.h"
#include "tests/support/TestSupport.h"

using namespace tandrel;

namespace {

struct Loaded {
    Preferences prefs;
    RecentFiles user;
    WindowGeometry geo;
};

Loaded ReadAll(const Profile& ini) {
    Loaded l;
    l.geo = WindowGeometry{-1, -1, -1, -1, -1};
    ReadSettings(ini, l.prefs, l.user, l.geo);
    return l;
}

std::string ErrorOf(const std::function<void()>& f) {
    return test::ErrorText<FileError>(f);
}

} // namespace

TEST(Settings, MissingFileGivesEveryDefaultAndIsNotCreated) {
    test::TempDir dir;
    const Profile ini(dir.file("Tandrel.ini"));
    const Loaded l = ReadAll(ini);
    EXPECT_EQ(l.prefs.smtp, kDefaultSmtp);
    EXPECT_EQ(l.prefs.name, "Your Name");
    EXPECT_EQ(l.prefs.port, "25");
    EXPECT_EQ(l.prefs.fromAddress, kDefaultFromAddress);
    EXPECT_EQ(l.prefs.fieldDelimiter, 59);
    EXPECT_EQ(l.prefs.delimiterChar, ';');
    EXPECT_EQ(l.user.lastMail, "");
    EXPECT_EQ(l.user.lastFields, "");
    EXPECT_EQ(l.user.lastDatabase, "");
    EXPECT_EQ(l.geo.x, 100);
    EXPECT_EQ(l.geo.y, 100);
    EXPECT_EQ(l.geo.width, 700);
    EXPECT_EQ(l.geo.height, 600);
    EXPECT_EQ(l.geo.paneHeight, 250);
    EXPECT_FALSE(std::filesystem::exists(ini.path()));
}

TEST(Settings, FieldDelimiterTextsAndTheirCharacters) {
    struct Case {
        std::string text;
        std::int32_t code;
        char delim;
    };
    const Case cases[] = {
        {"9", 9, '\t'},         {"44", 44, ','},
        {"0x2C", 44, ','},      {"0X2c", 44, ','},
        {"  58  ", 58, ':'},                       // blanks around a value are not part of it
        {"+46", 46, '.'},       {"300", 300, ','}, // low 8 bits
        {"-1", -1, '\xff'},     {"0xFFFFFFFF", -1, '\xff'},
        {"semicolon", 59, ';'}, {"", 59, ';'},
        {"0x", 59, ';'},        {"0xZZ", 59, ';'},
        {"0x-1", 59, ';'},      {"0x1FFFFFFFF", 59, ';'},
        {"12abc", 59, ';'},     {"2147483648", 59, ';'},
        {"1 2", 59, ';'},       {"--1", 59, ';'},
    };
    test::TempDir dir;
    const std::string path = dir.file("Tandrel.ini");
    for (const auto& c : cases) {
        test::WriteFileBytes(path, "[Database]\r\nfielddelim=" + c.text + "\r\n");
        const Loaded l = ReadAll(Profile(path));
        EXPECT_EQ(l.prefs.fieldDelimiter, c.code) << c.text;
        EXPECT_EQ(l.prefs.delimiterChar, c.delim) << c.text;
    }
}

TEST(Settings, OddDelimiterCodeIsWrittenBackUnchangedAtExit) {
    test::TempDir dir;
    const std::string path = dir.file("Tandrel.ini");
    test::WriteFileBytes(path, "[Database]\r\nfielddelim=300\r\n");
    Profile ini(path);
    Loaded l = ReadAll(ini);
    ASSERT_EQ(l.prefs.delimiterChar, ',');
    WriteSettings(ini, l.prefs, l.user, &l.geo);
    EXPECT_EQ(ini.readString("Database", "fielddelim", ""), "300");
}

TEST(Profile, LooksUpSectionsAndKeysWithoutRegardToCase) {
    test::TempDir dir;
    const std::string path = dir.file("p.ini");
    test::WriteFileBytes(path, "; top comment\n"
                               "smtp=outside any section\n"
                               "[ NETWORK ]\n"
                               "  SMTP  =  relay.example  \n"
                               ";smtp=commented out\n"
                               "Port=2525\n"
                               "empty=\n"
                               "quoted= \"  two blanks  \" \n"
                               "twice=\"\"x\"\"\n"
                               "none=\"\"\n"
                               "half=\"open\n"
                               "lone=\"\n"
                               "noequals\n"
                               "[Other]\n"
                               "name=other section\n"
                               "[network]\n"
                               "name=second copy of the section\n");
    const Profile ini(path);
    struct Case {
        const char* section;
        const char* key;
        std::string want;
    };
    const Case cases[] = {
        {"Network", "smtp", "relay.example"},
        {"network", "PORT", "2525"},
        {"Network", "empty", ""},
        // One pair of surrounding quotes goes, the blanks inside them stay.
        {"Network", "quoted", "  two blanks  "},
        {"Network", "twice", "\"x\""},
        {"Network", "none", ""},
        {"Network", "half", "\"open"},
        {"Network", "lone", "\""},
        {"Network", "noequals", "dflt"},
        {"Network", "name", "second copy of the section"},
        {"other", "NAME", "other section"},
        {"Missing", "smtp", "dflt"},
        {"Network", "missing", "dflt"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ini.readString(c.section, c.key, "dflt"), c.want) << c.section << "/" << c.key;
}

TEST(Profile, ValuesAndDefaultsAreCutAt1023Characters) {
    test::TempDir dir;
    const std::string path = dir.file("p.ini");
    const std::string longText(1500, 'v');
    test::WriteFileBytes(path, "[S]\r\nk=" + longText + "\r\n");
    const Profile ini(path);
    EXPECT_EQ(ini.readString("S", "k", ""), longText.substr(0, 1023));
    EXPECT_EQ(ini.readString("S", "absent", longText), longText.substr(0, 1023));
}

TEST(Profile, WritingKeepsEverythingElseInTheFile) {
    test::TempDir dir;
    const std::string path = dir.file("p.ini");
    test::WriteFileBytes(path, "; settings written by hand\n"
                               "[network]\n"
                               "   SMTP = old.example   ; not a comment here\n"
                               "weird  spacing =  x y  \n"
                               "\n"
                               "[Extra]\r\n"
                               "keep=me\r\n"
                               "\r\n"
                               "# hash line\r\n");
    Profile ini(path);
    ASSERT_TRUE(ini.writeString("Network", "smtp", "new.example"));
    ASSERT_TRUE(ini.writeString("NETWORK", "port", "25"));
    ASSERT_TRUE(ini.writeString("User", "lastdb", ""));
    ASSERT_TRUE(ini.WriteInteger("User", "MainWinXPos", -20));
    EXPECT_EQ(test::ReadFileBytes(path), "; settings written by hand\r\n"
                                         "[network]\r\n"
                                         "SMTP=new.example\r\n"
                                         "weird  spacing =  x y  \r\n"
                                         "port=25\r\n"
                                         "\r\n"
                                         "[Extra]\r\n"
                                         "keep=me\r\n"
                                         "\r\n"
                                         "# hash line\r\n"
                                         "\r\n"
                                         "[User]\r\n"
                                         "lastdb=\r\n"
                                         "MainWinXPos=-20\r\n");
    EXPECT_EQ(ini.readString("network", "weird  spacing", ""), "x y");
    EXPECT_EQ(ini.readInteger("user", "mainwinxpos", 0), -20);
}

TEST(Profile, WriteReplacesTheKeyThatAReadFinds) {
    test::TempDir dir;
    const std::string path = dir.file("p.ini");
    test::WriteFileBytes(path, "[A]\r\nx=1\r\n[B]\r\n[a]\r\nk=old\r\n");
    Profile ini(path);
    ASSERT_TRUE(ini.writeString("A", "k", "new"));
    ASSERT_TRUE(ini.writeString("a", "y", "2"));
    EXPECT_EQ(test::ReadFileBytes(path), "[A]\r\nx=1\r\ny=2\r\n[B]\r\n[a]\r\nk=new\r\n");
    EXPECT_EQ(ini.readString("A", "k", ""), "new");

    // A value with a line break (a file name may hold one) must not add a section or key.
    for (const char* brk : {"\r\n", "\n", "\r"}) {
        ASSERT_TRUE(ini.writeString("B", "k", std::string("/x") + brk + "[A]" + brk + "x=evil"));
        EXPECT_EQ(ini.readString("B", "k", "dflt"), "");
        EXPECT_EQ(ini.readString("A", "x", ""), "1");
    }
}

TEST(Profile, RewriteKeepsTheFileModeAndASymlink) {
    test::TempDir dir;
    const std::string real = dir.file("real.ini");
    const std::string link = dir.file("link.ini");
    test::WriteFileBytes(real, "[S]\r\nk=1\r\n");
    ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
    ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
    Profile ini(link);
    ASSERT_TRUE(ini.writeString("S", "k", "2"));
    struct stat sb {};
    ASSERT_EQ(::lstat(link.c_str(), &sb), 0);
    EXPECT_TRUE(S_ISLNK(sb.st_mode));
    ASSERT_EQ(::stat(real.c_str(), &sb), 0);
    EXPECT_EQ(sb.st_mode & 07777, 0640u);
    EXPECT_EQ(test::ReadFileBytes(real), "[S]\r\nk=2\r\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

TEST(Settings, RefusedWriteReportsThePathAndStopsTheStep) {
    test::TempDir dir;
    // A regular file where the directory should be: no one, not even root, can
    // create the settings file below it.
    test::WriteFileBytes(dir.file("notadir"), "x");
    const std::string path = dir.file("notadir/Tandrel.ini");
    Profile ini(path);
    EXPECT_FALSE(ini.writeString("Network", "smtp", "x"));

    Preferences prefs;
    RecentFiles user;
    WindowGeometry geo;
    const std::string notDir = "Unable to write to " + path + ": Not a directory";
    EXPECT_EQ(ErrorOf([&] { WritePrefs(ini, prefs); }), notDir);
    EXPECT_EQ(ErrorOf([&] { WriteSettings(ini, prefs, user, &geo); }), notDir);
    EXPECT_EQ(ErrorOf([&] { WriteSettings(ini, prefs, user, nullptr); }), notDir);

    // A pipe where the file should be: read as absent, refused on writing, never waited on.
    const std::string pipe = dir.file("pipe.ini");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    Profile piped(pipe);
    EXPECT_EQ(piped.readString("Network", "smtp", "dflt"), "dflt");
    EXPECT_EQ(ErrorOf([&] { WritePrefs(piped, prefs); }),
              "Unable to write to " + pipe + ": Invalid argument");
}

TEST(Settings, ReadOnlyDirectory) {
    test::TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const std::string sub = dir.file("ro");
    ASSERT_EQ(::mkdir(sub.c_str(), 0755), 0);
    const std::string existing = sub + "/existing.ini";
    test::WriteFileBytes(existing, "; mine\r\n[Network]\r\nsmtp=old\r\n");
    ASSERT_EQ(::chmod(existing.c_str(), 0666), 0);
    ASSERT_EQ(::chmod(sub.c_str(), 0555), 0);
    struct Restore {
        std::string p;
        ~Restore() { ::chmod(p.c_str(), 0755); }
    } restore{sub};
    // Root writes into any directory: check with the rights of an ordinary user.
    auto writable = [&] { return ::faccessat(AT_FDCWD, sub.c_str(), W_OK, AT_EACCESS) == 0; };
    std::unique_ptr<test::EffectiveUser> user;
    if (writable()) {
        user = std::make_unique<test::EffectiveUser>(test::kNobodyUid);
        if (!user->ok() || writable())
            GTEST_SKIP() << "the directory stays writable and the user cannot be switched";
    }

    const std::string fresh = sub + "/Tandrel.ini";
    Profile ini(fresh);
    EXPECT_EQ(ErrorOf([&] { WritePrefs(ini, Preferences{}); }),
              "Unable to write to " + fresh + ": Permission denied");
    EXPECT_FALSE(std::filesystem::exists(fresh));

    // The file itself is writable: it is rewritten in place.
    Profile old(existing);
    EXPECT_TRUE(old.writeString("Network", "smtp", "new"));
    EXPECT_EQ(test::ReadFileBytes(existing), "; mine\r\n[Network]\r\nsmtp=new\r\n");
}

TEST(Settings, ExitWriteCreatesAllKeysInOrder) {
    test::TempDir dir;
    Profile ini(dir.file("Tandrel.ini"));
    Preferences prefs{"relay.example", "2525", "Ann Lee", "ann@relay.example", 9, '\t'};
    RecentFiles user{"/m/mail.txt", "/m/fields.txt", ""};
    WindowGeometry geo{-5, 20, 800, 640, 300};
    WriteSettings(ini, prefs, user, &geo);
    EXPECT_EQ(test::ReadFileBytes(ini.path()), "[Network]\r\n"
                                               "smtp=relay.example\r\n"
                                               "name=Ann Lee\r\n"
                                               "port=2525\r\n"
                                               "fromaddy=ann@relay.example\r\n"
                                               "\r\n"
                                               "[Database]\r\n"
                                               "fielddelim=9\r\n"
                                               "\r\n"
                                               "[User]\r\n"
                                               "lastmail=/m/mail.txt\r\n"
                                               "lastfields=/m/fields.txt\r\n"
                                               "lastdb=\r\n"
                                               "MainWinXPos=-5\r\n"
                                               "MainWinYPos=20\r\n"
                                               "MainWinWidth=800\r\n"
                                               "MainWinHeight=640\r\n"
                                               "TPaneHeight=300\r\n");
    const Loaded l = ReadAll(ini);
    EXPECT_EQ(l.prefs.smtp, prefs.smtp);
    EXPECT_EQ(l.prefs.port, prefs.port);
    EXPECT_EQ(l.prefs.delimiterChar, '\t');
    EXPECT_EQ(l.user.lastFields, user.lastFields);
    EXPECT_EQ(l.geo.x, -5);
    EXPECT_EQ(l.geo.paneHeight, 300);
}

TEST(Settings, GeometryKeysKeptWhenTheWindowIsNotNormal) {
    test::TempDir dir;
    const std::string path = dir.file("Tandrel.ini");
    const std::string user = "[User]\r\n"
                             "MainWinXPos=1\r\n"
                             "MainWinYPos=2\r\n"
                             "MainWinWidth=3\r\n"
                             "MainWinHeight=4\r\n"
                             "TPaneHeight=5\r\n";
    test::WriteFileBytes(path, user);
    Profile ini(path);
    WriteSettings(ini, Preferences{}, RecentFiles{"a", "b", "c"}, nullptr);
    const std::string bytes = test::ReadFileBytes(path);
    const std::string head = user + "lastmail=a\r\nlastfields=b\r\nlastdb=c\r\n";
    EXPECT_EQ(bytes.substr(0, head.size()), head);
    const Loaded l = ReadAll(ini);
    EXPECT_EQ(l.geo.x, 1);
    EXPECT_EQ(l.geo.y, 2);
    EXPECT_EQ(l.geo.width, 3);
    EXPECT_EQ(l.geo.height, 4);
    EXPECT_EQ(l.geo.paneHeight, 5);

    // A fresh file gets no geometry keys at all.
    Profile fresh(dir.file("fresh.ini"));
    WriteSettings(fresh, Preferences{}, RecentFiles{}, nullptr);
    EXPECT_EQ(test::ReadFileBytes(fresh.path()).find("MainWin"), std::string::npos);
}

TEST(Settings, PreferencesWriteLeavesTheUserSectionAlone) {
    test::TempDir dir;
    const std::string path = dir.file("Tandrel.ini");
    test::WriteFileBytes(path, "[User]\r\nlastdb=/keep.txt\r\n");
    Profile ini(path);
    WritePrefs(ini, Preferences{"h", "26", "N", "a@h", 44, ','});
    EXPECT_EQ(test::ReadFileBytes(path), "[User]\r\n"
                                         "lastdb=/keep.txt\r\n"
                                         "\r\n"
                                         "[Network]\r\n"
                                         "smtp=h\r\n"
                                         "name=N\r\n"
                                         "port=26\r\n"
                                         "fromaddy=a@h\r\n"
                                         "\r\n"
                                         "[Database]\r\n"
                                         "fielddelim=44\r\n");
}

TEST(Settings, ProgramDirAndComputerName) {
    const std::string dir = ComputeProgramDir();
    ASSERT_FALSE(dir.empty());
    EXPECT_NE(dir.back(), '/');
    EXPECT_TRUE(std::filesystem::is_directory(dir));
    EXPECT_TRUE(std::filesystem::equivalent(
        dir + "/" + std::filesystem::read_symlink("/proc/self/exe").filename().string(),
        "/proc/self/exe"));
    // The whole name, never cut: the plain one, or a fully qualified one that starts
    // with it, made only of what a HELO may carry.
    const std::string host = ComputeLocalComputerName();
    char buf[256] = {};
    ASSERT_EQ(::gethostname(buf, sizeof buf - 1), 0);
    const std::string plain(buf);
    if (plain.find('.') != std::string::npos || host == plain) {
        EXPECT_EQ(host, plain);
    } else {
        EXPECT_EQ(host.substr(0, plain.size() + 1), plain + ".") << host;
        EXPECT_EQ(host.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                         "0123456789-."),
                  std::string::npos)
            << host;
    }
}

// The connection and login keys: what a hand-edited file reads as, that a changed value
// survives a Preferences write and a new read, and that going back to the default is
// stored too.
TEST(Settings, ConnectionKeysReadWriteAndReturnToDefault) {
    struct Keys {
        std::string security, user;
        int timeout, perConnection, rate;
        std::string auth, provider, tenant;
        std::string ehlo = "no";
        int connections = 1;
        bool operator==(const Keys&) const = default;
    };
    const auto keysOf = [](const Preferences& p) {
        return Keys{p.security,      p.user, p.timeoutSeconds, p.perConnection,
                    p.ratePerMinute, p.auth, p.oauthProvider,  p.oauthTenant,
                    p.ehlo,          p.connections};
    };
    const Keys defaults{"none", "", 0, 0, 0, "password", "microsoft", "common"};
    struct Case {
        std::string lines; // [Network] lines as a user may have typed them
        Keys read;
    };
    const Case cases[] = {
        {"", defaults},
        {"security=STARTTLS\r\nuser=ann@x.example\r\ntimeout=30\r\n",
         {"starttls", "ann@x.example", 30, 0, 0, "password", "microsoft", "common"}},
        {"security=tls\r\nperconnection=2\r\nrate=60\r\nehlo=Yes\r\nconnections=4\r\n",
         {"tls", "", 0, 2, 60, "password", "microsoft", "common", "yes", 4}},
        // More connections than allowed are the most allowed; fewer than one is one.
        {"connections=64\r\n",
         {"none", "", 0, 0, 0, "password", "microsoft", "common", "no", kMaxConnections}},
        // Unknown words are kept as written (never taken for a known one, and the check
        // before sending names them); negative numbers and words are unset.
        {"security=ssl\r\ntimeout=-5\r\nrate=fast\r\nperconnection=-1\r\n"
         "auth=kerberos\r\noauthprovider=yahoo\r\nehlo=1\r\nconnections=-3\r\n",
         {"ssl", "", 0, 0, 0, "kerberos", "yahoo", "common", "1", 1}},
        {"user=\"a b\"\r\ntimeout=0x10\r\nauth=OAuth2\r\noauthprovider=Google\r\n"
         "oauthtenant=contoso.example\r\n",
         {"none", "a b", 16, 0, 0, "oauth2", "google", "contoso.example"}},
    };
    test::TempDir dir;
    const std::string path = dir.file("Tandrel.ini");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines);
        test::WriteFileBytes(path, "[Network]\r\n" + c.lines);
        Profile ini(path);
        EXPECT_TRUE(keysOf(ReadAll(ini).prefs) == c.read);

        Preferences changed = ReadAll(ini).prefs;
        changed.security = "tls";
        changed.user = "bob";
        changed.timeoutSeconds = 7;
        changed.perConnection = 50;
        changed.ratePerMinute = 30;
        changed.ehlo = c.read.ehlo == "yes" ? "no" : "yes";
        changed.connections = 3;
        changed.auth = "oauth2";
        changed.oauthProvider = "custom";
        changed.oauthTenant = "organizations";
        changed.oauthCommand = "pass show mail/token | head -1";
        changed.oauthClientId = "0b3c-client";
        changed.oauthClientSecret = "desktop-secret";
        changed.oauthAuthUrl = "https://id.example/authorize?x=1";
        changed.oauthTokenUrl = "https://id.example/token";
        changed.oauthScope = "smtp offline_access";
        WritePrefs(ini, changed);
        const Preferences back = ReadAll(ini).prefs;
        EXPECT_TRUE(keysOf(back) ==
                    (Keys{"tls", "bob", 7, 50, 30, "oauth2", "custom", "organizations",
                          changed.ehlo, 3}));
        EXPECT_EQ(std::tie(back.oauthCommand, back.oauthClientId, back.oauthClientSecret,
                           back.oauthAuthUrl, back.oauthTokenUrl, back.oauthScope),
                  std::tie(changed.oauthCommand, changed.oauthClientId, changed.oauthClientSecret,
                           changed.oauthAuthUrl, changed.oauthTokenUrl, changed.oauthScope));

        WritePrefs(ini, Preferences{});
        EXPECT_TRUE(keysOf(ReadAll(ini).prefs) == defaults);
        EXPECT_EQ(ReadAll(ini).prefs.oauthCommand, "");
    }
}
