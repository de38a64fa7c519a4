// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "merge/Compose.h"
#include "tests/support/LiteralMerge.h"
#include "merge/Merge.h"
#include "merge/Mime.h"
#include "tests/support/TestSupport.h"

using namespace tandrel;

namespace {

Person Entry(std::string name, std::string email, std::vector<std::string> values,
                 bool missingValuesEmpty = false) {
    Person e;
    e.setName(std::move(name));
    e.setEmail(std::move(email));
    e.values = std::move(values);
    e.missingValuesEmpty = missingValuesEmpty;
    return e;
}

std::vector<Field> Fields(std::initializer_list<const char*> names) {
    std::vector<Field> f;
    for (const char* n : names)
        f.push_back(Field{n});
    return f;
}

} // namespace

TEST(ReplaceAll, Table) {
    struct Case {
        const char* text;
        const char* ph;
        const char* value;
        const char* want;
    };
    const Case cases[] = {
        {"Dear [name],", "[name]", "Ann", "Dear Ann,"},
        {"[email] and [email]", "[email]", "a@b", "a@b and a@b"},
        {"no brackets at all", "[name]", "Ann", "no brackets at all"},
        {"[name", "[name]", "Ann", "[name"},
        {"name]", "[name]", "Ann", "name]"},
        {"[Name] [ name ] [NAME]", "[name]", "Ann", "[Name] [ name ] [NAME]"},
        {"x[name]y", "[name]", "", "xy"},
        // Restarting at the start re-forms placeholders across a removed one.
        {"[na[name]me]", "[name]", "", ""},
        {"[na[na[name]me]me]!", "[name]", "", "!"},
        {"[name]me]me]", "[name]", "[na", "[na"},
        {"[[name]name]]", "[name]", "[", "[[]"},
        // A value holding its own placeholder is inserted once.
        {"Hi [name] and [name]", "[name]", "[name]", "Hi [name] and [name]"},
        {"[city]", "[city]", "x[city]", "x[city]"},
        {"[na[name]me]", "[name]", "<[name]>", "[na<[name]>me]"},
        // Overlapping placeholder shapes.
        {"aaaa", "aa", "a", "a"},
        {"ababab", "aba", "", "bab"},
        {"[]", "[]", "empty", "empty"},
        {"text", "", "x", "text"},
    };
    for (const auto& c : cases) {
        std::string text = c.text;
        ReplaceAll(text, c.ph, c.value);
        EXPECT_EQ(text, c.want) << c.text << " / " << c.ph << " -> " << c.value;
    }
}

TEST(ReplaceAll, MatchesTheRestartingSearchOnRandomInputs) {
    std::mt19937 rng(20240611);
    const std::string alphabet = "[]an";
    const std::vector<std::string> placeholders = {"[a]", "[an]", "[]",    "aa",  "aba", "[a[",
                                                   "]",   "a",    "[[a]]", "a]a", "[n]a"};
    auto randomText = [&](std::size_t maxLen) {
        std::string s(std::uniform_int_distribution<std::size_t>(0, maxLen)(rng), ' ');
        for (char& c : s)
            c = alphabet[rng() % alphabet.size()];
        return s;
    };
    std::size_t compared = 0;
    for (int i = 0; i < 200000; ++i) {
        const std::string ph =
            rng() % 3 == 0 ? randomText(4) : placeholders[rng() % placeholders.size()];
        const std::string value = randomText(6);
        const std::string text = randomText(40);
        const auto want = test::LiteralReplaceAll(text, ph, value, 2000);
        if (!want) continue;
        std::string got = text;
        ReplaceAll(got, ph, value);
        ASSERT_EQ(got, *want) << "text '" << text << "' ph '" << ph << "' value '" << value << "'";
        ++compared;
    }
    EXPECT_GT(compared, 190000u);
}

TEST(ReplaceAll, RunawayCascadesEnd) {
    // Each replacement of "ab" by "bbaa" forms new occurrences with the text around
    // it, doubling the work per leading "a"; the merge must still come back.
    std::string text = std::string(40, 'a') + "b";
    ReplaceAll(text, "ab", "bbaa");
    EXPECT_FALSE(text.empty());
}

TEST(MergeEntry, Table) {
    const auto fields = Fields({"name", "email", "city", "zip"});
    struct Case {
        const char* text;
        Person entry;
        const char* want;
    };
    const Case cases[] = {
        {"[name] <[email]> in [city] [zip]",
         Entry("Ann", "ann@x.example", {"Ann", "ann@x.example", "Oslo", "0150"}),
         "Ann <ann@x.example> in Oslo 0150"},
        // Fewer values than fields: the rest keep their placeholders.
        {"[city] [zip]", Entry("Ann", "a@x", {"Ann", "a@x", "Oslo"}), "Oslo [zip]"},
        {"[city]", Entry("Ann", "a@x", {}), "[city]"},
        // A short CSV row: what it leaves out is empty.
        {"[city]|[zip]|", Entry("Ann", "a@x", {"Ann", "a@x", "Oslo"}, true), "Oslo||"},
        {"[zip][name]", Entry("[zip]", "a@x", {}, true), ""},
        // Earlier values are searched by later steps, never the other way round.
        {"[name]", Entry("[email]", "a@x", {}), "a@x"},
        {"[name]", Entry("[city]", "a@x", {"[city]", "a@x", "Oslo"}), "Oslo"},
        {"[city]", Entry("Ann", "a@x", {"Ann", "a@x", "[name]"}), "[name]"},
        {"[na[name]me]", Entry("", "a@x", {}), ""},
        {"[name] [name]", Entry("[name]", "a@x", {}), "[name] [name]"},
        {"[city]", Entry("Ann", "a@x", {"Ann", "a@x", "x[city]"}), "x[city]"},
        {"[Name] [ name ]", Entry("Ann", "a@x", {}), "[Name] [ name ]"},
    };
    for (const auto& c : cases) {
        std::string text = c.text;
        MergeEntry(fields, c.entry, text);
        EXPECT_EQ(text, c.want) << c.text;
    }
}

TEST(MergeEntry, FieldNamesAreUsedExactly) {
    const auto fields = Fields({"", "first name", "a]b", "name"});
    const Person e = Entry("Ann", "a@x", {"E", "F N", "AB", "ignored: [name] is done first"});
    std::string text = "[] [first name] [a]b] [name] [extra]";
    MergeEntry(fields, e, text);
    EXPECT_EQ(text, "E F N AB Ann [extra]");
}

TEST(MergeEntry, MatchesTheLiteralStepsOnRandomInputs) {
    std::mt19937 rng(7);
    const std::string alphabet = "[]nameciy";
    auto randomText = [&](std::size_t maxLen) {
        std::string s(std::uniform_int_distribution<std::size_t>(0, maxLen)(rng), ' ');
        for (char& c : s)
            c = alphabet[rng() % alphabet.size()];
        return s;
    };
    const std::vector<std::string> pieces = {"[name]", "[email]", "[city]", "[na", "me]", "[", "]"};
    const auto fields = Fields({"name", "email", "city", "ci", ""});
    for (int i = 0; i < 20000; ++i) {
        std::string text;
        const int n = static_cast<int>(rng() % 8);
        for (int k = 0; k < n; ++k)
            text += rng() % 2 ? pieces[rng() % pieces.size()] : randomText(3);
        std::vector<std::string> values;
        const std::size_t nv = rng() % 6;
        for (std::size_t k = 0; k < nv; ++k)
            values.push_back(rng() % 3 ? randomText(5) : pieces[rng() % pieces.size()]);
        // Every third entry has no brackets in its values: the single-scan merge.
        auto strip = [&](std::string v) {
            if (i % 3 == 0) std::erase_if(v, [](char c) { return c == '[' || c == ']'; });
            return v;
        };
        for (auto& v : values)
            v = strip(v);
        const Person e = Entry(strip(randomText(5)), strip(randomText(5)), values);
        const auto want = test::LiteralMerge(fields, e, text);
        if (!want) continue;
        std::string got = text;
        MergeEntry(fields, e, got);
        ASSERT_EQ(got, *want) << text;
    }
}

// Values that name each other's placeholders double the text at every level. Every way
// into the merge stops with the same error for that person, however far the
// references go; a person without such values merges as usual.
TEST(MergeEntry, ValuesReferringToEachOtherStopAtTheLimit) {
    std::vector<std::string> names = {"name", "email"};
    std::vector<std::string> values = {"[f1][f1]", "ann@x"};
    for (int level = 1; level <= 40; ++level) {
        names.push_back("f" + std::to_string(level));
        values.push_back("[f" + std::to_string(level + 1) + "][f" + std::to_string(level + 1) +
                         "]");
    }
    std::vector<Field> fields;
    for (const std::string& n : names)
        fields.push_back(Field{n});
    const Person hostile = Entry(values[0], "ann@x", values);
    const Person fine = Entry("Bob", "bob@x", {"Bob", "bob@x", "plain"});
    MailText mail;
    mail.hasHeader = true;
    mail.lines = {"From: me@x", "To: [email]",  "Subject: Hi", "Content-type: text/plain",
                  "",           "Dear [name],", "[f1]"};
    const std::string want =
        "The merged mail for [f1][f1] grows beyond 64 MB; its values refer to each other";
    EXPECT_EQ(MergeGrowthProblem(FieldIndex(fields), hostile, "Dear [name]"), want);
    EXPECT_EQ(MergeGrowthProblem(FieldIndex(fields), fine, "Dear [name] [f1]"), "");
    const std::function<void(const Person&)> ways[] = {
        [&](const Person& e) {
            std::string text = "[name]";
            MergeEntry(fields, e, text);
        },
        [&](const Person& e) { MessageComposer(fields, mail, "x").compose(e, false); },
        [&](const Person& e) { MergeLines(fields, mail.lines, e); },
        [&](const Person& e) { AttachmentPathOf("files/[f1].pdf", FieldIndex(fields), e); },
    };
    for (const auto& way : ways) {
        EXPECT_EQ(test::ErrorText<ComposeError>([&] { way(hostile); }), want);
        EXPECT_NO_THROW(way(fine));
    }
}
