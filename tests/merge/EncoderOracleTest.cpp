// SPDX-License-Identifier: GPL-3.0-or-later
// Our encoders against a decoder written elsewhere: generated text goes through
// quoted-printable, header encoded-words and file-name parameters, and Python's email
// package (encoder_oracle.py, one process for every case) must read back the original.
// TANDREL_TEST_SEED=<seed> makes the texts of a failed run again.
#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

#include "merge/Compose.h"
#include "merge/Encoding.h"
#include "tests/support/HostileText.h"
#include "tests/support/TestSupport.h"

using namespace tandrel;
using tandrel::test::HostileCharset;
using tandrel::test::HostileText;

namespace {

constexpr const char* kPython = "/usr/bin/python3";

struct OracleCase {
    std::string kind, charset, original, encoded;
};

std::string Hex(std::string_view s) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (const char c : s) {
        out += digits[static_cast<unsigned char>(c) >> 4];
        out += digits[static_cast<unsigned char>(c) & 15];
    }
    return out.empty() ? "-" : out; // never an empty field
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i)
        out += (i ? "\r\n" : "") + lines[i];
    return out;
}

// The verdict line of each case, in order.
std::vector<std::string> AskTheOracle(const std::vector<OracleCase>& cases) {
    test::TempDir dir;
    std::string input;
    for (const OracleCase& c : cases)
        input += c.kind + " " + c.charset + " " + Hex(c.original) + " " + Hex(c.encoded) + "\n";
    test::WriteFileBytes(dir.file("cases"), input);
    const std::string cmd = std::string(kPython) +
                            " " TANDREL_SOURCE_DIR "/tests/merge/encoder_oracle.py < '" +
                            dir.file("cases") + "'";
    std::string out;
    if (std::FILE* p = ::popen(cmd.c_str(), "r")) {
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
            out.append(buf, n);
        ::pclose(p);
    }
    std::vector<std::string> verdicts;
    for (std::size_t s = 0, e; s < out.size(); s = e + 1) {
        e = out.find('\n', s);
        if (e == std::string::npos) e = out.size();
        verdicts.push_back(out.substr(s, e - s));
    }
    return verdicts;
}

std::string Without(std::string s, std::string_view bytes) {
    std::erase_if(s, [&](char c) { return bytes.find(c) != std::string_view::npos; });
    return s;
}

std::string NoControls(std::string s) {
    std::erase_if(s, [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
    return s;
}

// Texts a user really types that are hard on the encoders.
const std::vector<std::string> kFixedTexts = {
    "",
    " ",
    "trailing blank ",
    "trailing tab\t",
    ".",
    "..",
    "-",
    "--partbound",
    "-- signature",
    "a=b",
    "under_score and ?question?",
    "100% = 1",
    "\"quoted\" \\ back",
    std::string(300, 'x'),
    std::string(950, 'y') + " tail",
    std::string(80, ' ') + "x",
    "ends with equals=",
    "=?utf-8?Q?looks_encoded?= and =?x?b?",
    "\xc3\xa9t\xc3\xa9 \x1f \xc3\xa9t\xc3\xa9 \x7f",
};

} // namespace

TEST(EncoderOracle, EveryEncodedTextDecodesToTheOriginal) {
    if (::access(kPython, X_OK) != 0) GTEST_SKIP() << "no system python";
    const test::SeededRun run;
    HostileText gen(run.seed);
    std::vector<OracleCase> cases;
    for (const HostileCharset cs : {HostileCharset::Utf8, HostileCharset::Windows1252}) {
        const std::string charset = cs == HostileCharset::Utf8 ? "utf-8" : "windows-1252";
        std::vector<std::string> texts = kFixedTexts;
        texts.push_back(HostileText::AllBytes(cs));
        for (int i = 0; i < 250; ++i) {
            std::string t = gen.value(cs, i % 10 == 0 ? 400 : 40);
            if (i % 25 == 0) t += std::string(901 + gen.pick(100), 'w'); // one word per line
            texts.push_back(std::move(t));
        }
        for (std::size_t i = 0; i < texts.size(); ++i) {
            // A header value and a body line are one line each (OneLine, line splitting).
            const std::string text = Without(texts[i], "\r\n");
            std::vector<std::string> body = {text};
            for (std::size_t k = gen.pick(4); k > 0; --k)
                body.push_back(Without(texts[gen.pick(texts.size())], "\r\n"));
            std::string bodyText;
            for (const std::string& l : body)
                bodyText += l + "\r\n";
            cases.push_back({"qp", charset, bodyText, Joined(QuotedPrintableLines(body))});
            cases.push_back(
                {"subject", charset, text, Joined(EncodeHeaderLine("Subject: " + text, charset))});
            cases.push_back({"to", charset, text,
                             Joined(EncodeHeaderLine(
                                 "To: \"" + EscapeQuoted(text) + "\" <ann@x.example>", charset))});
            // A file name in any bytes: non-UTF-8 names are Windows-1252.
            const std::string name = NoControls(texts[i]);
            cases.push_back({"param", IsValidUtf8(name) ? "utf-8" : "windows-1252", name,
                             FileNameParameter("filename", texts[i])});
        }
    }
    const std::vector<std::string> verdicts = AskTheOracle(cases);
    ASSERT_EQ(verdicts.size(), cases.size()) << "the oracle did not answer every case";
    int failures = 0;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        if (verdicts[i] == "ok") continue;
        if (++failures > 20) break;
        ADD_FAILURE() << cases[i].kind << " " << cases[i].charset << ": " << verdicts[i]
                      << "\n  original: " << Hex(cases[i].original)
                      << "\n  encoded:  " << cases[i].encoded;
    }
}

// The URLs of a List- line stay URLs in their angle brackets whatever a value or the
// mail puts in them: composed messages, plain and Markdown, with the template in
// ASCII, UTF-8 or Windows-1252 and values in either encoding.
TEST(EncoderOracle, ListUrlsReadBackWithTheirValuesPercentEncoded) {
    if (::access(kPython, X_OK) != 0) GTEST_SKIP() << "no system python";
    const test::SeededRun run;
    HostileText gen(run.seed);
    struct Value {
        std::string text, charset;
    };
    std::vector<Value> values = {
        {"Zo\xc3\xab", "utf-8"},
        {"Zo\xeb", "windows-1252"},
        {"\x80uro caf\xe9", "windows-1252"},
        {"Ann Lee\r\nBcc: all@example.org", "utf-8"},
        {"x>, <https://evil.example/steal", "utf-8"},
        {"100% \"sure\" {a|b} \\ ^ ` tab\there", "utf-8"},
        {"=?utf-8?q?Zo=C3=AB?=", "utf-8"},
        {"\xf0\x9f\x93\xa7 \xe2\x80\x8f", "utf-8"},
    };
    for (int i = 0; i < 60; ++i)
        values.push_back({gen.value(HostileCharset::Utf8, 30), "utf-8"});
    const std::vector<std::pair<std::string, std::string>> templates = {
        {"list", "List-Unsubscribe: <https://example.org/u?n=[name]>, "
                 "<mailto:leave@example.org?subject=[name]>"},
        {"listu", "List-Unsubscribe: <https://example.org/\xc3\xbc"
                  "ber?n=[name]>"},
        {"listu", "List-Unsubscribe: <https://example.org/\xfc"
                  "ber?n=[name]>"},
    };
    const std::vector<Field> fields = {{"name"}, {"email"}};
    std::vector<OracleCase> cases;
    for (const auto& [kind, line] : templates)
        for (const bool markdown : {false, true}) {
            MailText mail;
            mail.hasHeader = true;
            mail.lines = {"From: <club@example.org>", "To: \"[name]\" <[email]>", "Subject: News",
                          line};
            if (markdown) mail.lines.push_back("Content-type: text/markdown");
            mail.lines.insert(mail.lines.end(), {"", "Dear [name]"});
            MessageComposer composer(fields, mail, "example.org");
            for (const Value& v : values) {
                Person e;
                e.setName(v.text);
                e.setEmail("ann@example.org");
                const std::vector<std::string> message = composer.compose(e, false);
                std::vector<std::string> header;
                for (const std::string& l : message) {
                    if (l.empty()) break;
                    if (HeaderNameIs(l, "list-unsubscribe") ||
                        (!header.empty() && (l[0] == ' ' || l[0] == '\t')))
                        header.push_back(l);
                    else if (!header.empty())
                        break;
                }
                cases.push_back({kind, v.charset, v.text, Joined(header)});
            }
        }
    const std::vector<std::string> verdicts = AskTheOracle(cases);
    ASSERT_EQ(verdicts.size(), cases.size()) << "the oracle did not answer every case";
    int failures = 0;
    for (std::size_t i = 0; i < cases.size() && failures < 20; ++i)
        if (verdicts[i] != "ok")
            ADD_FAILURE() << ++failures << ". " << cases[i].kind << " " << cases[i].charset << ": "
                          << verdicts[i] << "\n  value: " << Hex(cases[i].original)
                          << "\n  header: " << cases[i].encoded;
}
