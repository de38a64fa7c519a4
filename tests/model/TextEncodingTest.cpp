// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "model/MailFile.h"
#include "tests/support/TestSupport.h"
#include "model/TextEncoding.h"

using namespace tandrel;

TEST(TextEncoding, EveryByteSurvivesTheRoundTripThroughUtf8) {
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    const std::string utf8 = Windows1252ToUtf8(all);
    EXPECT_TRUE(IsValidUtf8(utf8));
    EXPECT_EQ(utf8.find("\xEF\xBF\xBD"), std::string::npos); // never U+FFFD
    EXPECT_EQ(Utf8ToWindows1252(utf8), all);
    EXPECT_EQ(EncodeText(DecodeText(all, TextEncoding::Windows1252), TextEncoding::Windows1252),
              all);
    // The characters the five undefined bytes and a few defined ones stand for.
    EXPECT_EQ(Windows1252ToUtf8("\x81\x8D\x8F\x90\x9D"),
              "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D");
    EXPECT_EQ(Windows1252ToUtf8("Caf\xE9 \x80\x9F"), "Caf\xC3\xA9 \xE2\x82\xAC\xC5\xB8");
}

TEST(TextEncoding, Utf8IsCheckedStrictly) {
    struct Case {
        std::string bytes;
        bool valid;
        bool fitsWindows1252;
    };
    const Case cases[] = {
        {"", true, true},
        {std::string("a\0b", 3), true, true},
        {"Caf\xC3\xA9", true, true},
        {"\xE2\x82\xAC", true, true},           // euro sign: byte 0x80
        {"\xD0\x96", true, false},              // Cyrillic Zhe
        {"\xF0\x9F\x98\x80", true, false},      // an emoji, four bytes
        {"\xF4\x8F\xBF\xBF", true, false},      // U+10FFFF, the last character
        {"Caf\xE9", false, false},              // Latin-1
        {"\xC3", false, false},                 // cut short
        {"\xC0\xAF", false, false},             // overlong '/'
        {"\xE0\x80\xAF", false, false},         // overlong, three bytes
        {"\xED\xA0\x80", false, false},         // a surrogate
        {"\xF4\x90\x80\x80", false, false},     // above U+10FFFF
        {"\xF8\x88\x80\x80\x80", false, false}, // five-byte form
        {"\x80", false, false},                 // lone continuation byte
        {"\xE2\x28\xA1", false, false},         // continuation missing
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        EXPECT_EQ(IsValidUtf8(c.bytes), c.valid);
        EXPECT_EQ(DetectTextEncoding(c.bytes),
                  c.valid ? TextEncoding::Utf8 : TextEncoding::Windows1252);
        EXPECT_EQ(Utf8ToWindows1252(c.bytes).has_value(), c.fitsWindows1252);
        EXPECT_EQ(EncodeText(c.bytes, TextEncoding::Utf8).has_value(), c.valid);
    }
}

TEST(TextEncoding, LoadedMailRemembersItsEncoding) {
    struct Case {
        std::string file;
        TextEncoding want;
    };
    const Case cases[] = {
        {"Subject: plain\r\n\r\nHello\r\n", TextEncoding::Utf8},
        {"Subject: Caf\xC3\xA9\r\n\r\nCaf\xC3\xA9\r\n", TextEncoding::Utf8},
        {"Subject: Caf\xE9\r\n\r\nCaf\xE9\r\n", TextEncoding::Windows1252},
        // One stray byte in the body decides for the whole file.
        {"Subject: Caf\xC3\xA9\r\n\r\n\x93quoted\x94\r\n", TextEncoding::Windows1252},
    };
    test::TempDir dir;
    const std::string path = dir.file("m.txt");
    for (const auto& c : cases) {
        test::WriteFileBytes(path, c.file);
        AppState st;
        MailEditors eds;
        ASSERT_TRUE(LoadMail(st, path, eds));
        EXPECT_EQ(st.mailText.encoding, c.want) << c.file;
        // The bytes are kept as they are; showing them is the encoding's business.
        SaveMail(st, path, eds, false);
        const std::string back = test::ReadFileBytes(path);
        EXPECT_NE(back.find(c.file.substr(c.file.find("\r\n\r\n") + 4)), std::string::npos);
        NewMail(st, eds);
        EXPECT_EQ(st.mailText.encoding, TextEncoding::Utf8);
    }
}
