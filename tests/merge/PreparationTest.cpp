// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "merge/Compose.h"
#include "merge/Mime.h"
#include "merge/Preparation.h"
#include "tests/support/TestSupport.h"
#include "tests/support/WireText.h"

using namespace tandrel;
using tandrel::test::TempDir;
using tandrel::test::WriteFileBytes;

namespace {

struct RunSetup {
    AppState st;
    std::vector<Person*> recipients;

    RunSetup() {
        st.newDatabase();
        st.mailText.hasHeader = true;
        st.mailText.lines = {"Date: Tue, 05 Jan 1999 09:07:03 +0100",
                             "From: me@x.example",
                             "To: \"[name]\" <[email]>",
                             "Subject: For [name]",
                             "MIME-Version: 1.0",
                             "Content-type: text/plain",
                             "X-Mailer: Tandrel 1.1",
                             "",
                             "Dear [name],",
                             "bye"};
    }
    OutgoingList outgoing;
    Person& add(const std::string& name, const std::string& email) {
        Person& e = st.db->appendEntry();
        e.setName(name);
        e.setEmail(email);
        e.values = {name, email};
        recipients.push_back(&e);
        return e;
    }
    std::vector<int> prepare() {
        std::vector<int> gauge;
        outgoing = PrepareAllMails(st, recipients, [&](int v) { gauge.push_back(v); });
        return gauge;
    }
};

// The gauge as the preparation describes it, step by step, on a bar from 0 to 100,
// keeping only the changes.
std::vector<int> ExpectedGauge(std::size_t recipients, const std::vector<std::uint64_t>& sizes,
                               const std::vector<bool>& base64) {
    std::vector<int> seen;
    int gauge = 0;
    auto set = [&](long long v) {
        v = std::clamp<long long>(v, 0, 100);
        if (v <= gauge) return; // the bar never moves back
        seen.push_back(static_cast<int>(v));
        gauge = static_cast<int>(v);
    };
    const long long rc = static_cast<long long>(recipients);
    const long long ac = static_cast<long long>(sizes.size());
    for (long long i = 1; i <= rc; ++i) {
        const int g = gauge;
        for (long long k = 1; k <= ac; ++k) {
            const std::uint64_t size = sizes[static_cast<std::size_t>(k - 1)];
            const long long u = static_cast<long long>(size / 56);
            if (base64[static_cast<std::size_t>(k - 1)] && u > 0) {
                const int h = gauge;
                for (long long j = 1; j <= static_cast<long long>(Base64LineCount(size)); ++j)
                    set((j * 100 / u) / (rc * ac) + h);
            }
            set((k * 100 / ac) / rc + g);
        }
        set(i * 100 / rc);
    }
    return seen;
}

// The message without its Message-ID line, which is the only line a run adds to an
// ASCII mail; the id goes to `id`.
std::vector<std::string> WithoutMessageId(const MessageLines& m, std::string* id = nullptr) {
    std::vector<std::string> lines = m.toVector();
    const auto it = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
        return l.rfind("Message-ID: ", 0) == 0;
    });
    if (it == lines.end()) return lines;
    if (id) *id = it->substr(12);
    lines.erase(it);
    return lines;
}

} // namespace

TEST(PrepareAllMails, OneMessagePerRecipientInOrder) {
    RunSetup r;
    r.add("Ann", "ann@x.example");
    r.add("Bob", "bob@x.example");
    r.add("Cy", "cy@x.example");
    EXPECT_EQ(r.prepare(), (std::vector<int>{33, 66, 100}));
    ASSERT_EQ(r.outgoing.size(), 3u);
    const char* names[] = {"Ann", "Bob", "Cy"};
    std::vector<std::string> ids;
    for (std::size_t i = 0; i < 3; ++i) {
        const auto& node = r.outgoing[i];
        EXPECT_EQ(node.address, r.recipients[i]->email());
        std::string id;
        EXPECT_EQ(WithoutMessageId(node.lines, &id),
                  ComposeMessage(r.st.db->fields, r.st.mailText, *r.recipients[i]));
        EXPECT_EQ(node.lines.line(7), "Message-ID: " + id); // last in the header block
        EXPECT_TRUE(id.front() == '<' && id.ends_with("@x.example>")) << id;
        ids.push_back(id);
        EXPECT_EQ(node.lines.line(9), std::string("Dear ") + names[i] + ",");
        EXPECT_EQ(node.lines.blocks().size(), 1u); // one compact block per message
    }
    // Unique within the run and across runs.
    r.prepare();
    std::string again;
    WithoutMessageId(r.outgoing[0].lines, &again);
    ids.push_back(again);
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end());
}

TEST(PrepareAllMails, SameNamesStayDifferentPeople) {
    RunSetup r;
    r.add("Ann", "first@x.example");
    r.add("Ann", "second@x.example");
    r.prepare();
    ASSERT_EQ(r.outgoing.size(), 2u);
    EXPECT_EQ(r.outgoing[0].address, "first@x.example");
    EXPECT_EQ(r.outgoing[1].address, "second@x.example");
    EXPECT_EQ(r.outgoing[1].lines.line(2), "To: \"Ann\" <second@x.example>");
}

TEST(PrepareAllMails, NoRecipients) {
    RunSetup r;
    EXPECT_TRUE(r.prepare().empty());
    EXPECT_TRUE(r.outgoing.empty());
}

TEST(PrepareAllMails, GaugeWithinMessages) {
    struct Case {
        std::size_t recipients;
        std::vector<std::uint64_t> sizes; // ".bin" files, except where text
        std::vector<bool> base64;
    };
    const Case cases[] = {
        {1, {10}, {true}}, // shorter than 56 bytes: no per-line steps
        {3, {10}, {true}},
        {1, {5600}, {true}}, // one step per line
        {1, {111}, {true}},  // values jump past 100
        {2, {1000, 30}, {true, true}},
        {3, {20000, 200}, {true, false}},
        {7, {56, 57, 58}, {true, true, true}},
        {4, {}, {}},
    };
    for (const auto& c : cases) {
        TempDir dir;
        RunSetup r;
        for (std::size_t i = 0; i < c.recipients; ++i)
            r.add("P" + std::to_string(i), "p" + std::to_string(i) + "@x.example");
        for (std::size_t k = 0; k < c.sizes.size(); ++k) {
            const std::string path =
                dir.file("a" + std::to_string(k) + (c.base64[k] ? ".bin" : ".txt"));
            WriteFileBytes(path, std::string(c.sizes[k], 'x'));
            r.st.attachments.push_back(MakeAttachment(path));
        }
        EXPECT_EQ(r.prepare(), ExpectedGauge(c.recipients, c.sizes, c.base64))
            << c.recipients << " recipients, " << c.sizes.size() << " attachments";
        EXPECT_EQ(r.outgoing.size(), c.recipients);
    }
}

TEST(PrepareAllMails, SharedPartsGiveTheSameBytesAsEncodingPerRecipient) {
    TempDir dir;
    WriteFileBytes(dir.file("report.pdf"), [] {
        std::mt19937 rng(5);
        std::string s(70000, '\0');
        for (char& c : s)
            c = static_cast<char>(rng());
        return s;
    }());
    WriteFileBytes(dir.file("terms.txt"), "Terms\r\nof [name]\r\n");
    WriteFileBytes(dir.file("Ann.txt"), "Ann's own\r\n");
    WriteFileBytes(dir.file("Bob.txt"), "Bob's own\r\n");
    WriteFileBytes(dir.file("Ann.gif"), "GIF-Ann");
    RunSetup r;
    r.add("Ann", "ann@x.example");
    r.add("Bob", "bob@x.example");
    r.add("Ann", "ann2@x.example");
    r.add("Cy", "cy@x.example"); // has no own files
    WriteFileBytes(dir.file("Bob.gif"), "GIF-Bob");
    for (const char* name : {"report.pdf", "terms.txt", "[name].txt", "Ann.gif", "[name].gif"})
        r.st.attachments.push_back(MakeAttachment(dir.file(name)));
    r.recipients.pop_back();
    r.prepare();
    ASSERT_EQ(r.outgoing.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        auto want = ComposeMessage(r.st.db->fields, r.st.mailText, *r.recipients[i]);
        AddAttachmentParts(r.st.db->fields, *r.recipients[i], r.st.attachments, want);
        EXPECT_EQ(tandrel::test::WireText(MessageLines(WithoutMessageId(r.outgoing[i].lines))),
                  tandrel::test::WireText(MessageLines(want)))
            << i;
    }
    // The shared files are one block in every message; own files are not held at all
    // but read as the message is read.
    const auto& a = r.outgoing[0].lines.blocks();
    const auto& b = r.outgoing[1].lines.blocks();
    ASSERT_EQ(a.size(), 6u); // head, three shared parts, Ann's "[name].gif", closing line
    EXPECT_EQ(a[1], b[1]);
    EXPECT_EQ(a[2], b[2]);
    EXPECT_EQ(a[3], b[3]);
    EXPECT_EQ(a[3], a[4]); // an own path that names a shared file uses its encoding
    EXPECT_EQ(r.outgoing[0].lines.deferredParts(), 1u);
    EXPECT_EQ(r.outgoing[1].lines.deferredParts(), 2u);
    EXPECT_EQ(r.outgoing[2].lines.deferredParts(), 1u);
    const auto text = r.outgoing[1].lines.toVector();
    EXPECT_NE(std::find(text.begin(), text.end(), "Bob's own"), text.end());
    EXPECT_EQ(std::find(text.begin(), text.end(), "Ann's own"), text.end());

    // Cy has neither "[name].txt" nor "[name].gif": the run fails as a whole, before
    // anything is encoded, naming the person and every missing file.
    r.recipients.push_back(r.st.db->entries.back().get());
    std::vector<int> gauge;
    try {
        PrepareAllMails(r.st, r.recipients, [&](int v) { gauge.push_back(v); });
        ADD_FAILURE() << "no error";
    } catch (const ComposeError& e) {
        const std::string what = e.what();
        for (const std::string& want :
             {"Cy: " + dir.file("Cy.txt") + " (does not exist)", "Cy: " + dir.file("Cy.gif")})
            EXPECT_NE(what.find(want), std::string::npos) << what;
    }
    EXPECT_TRUE(gauge.empty());
}

TEST(PrepareAllMails, AttachmentsNeedAHeaderBlock) {
    TempDir dir;
    WriteFileBytes(dir.file("a.bin"), "x");
    RunSetup r;
    r.add("Ann", "ann@x.example");
    r.st.mailText.hasHeader = false;
    r.st.mailText.lines = {"Content-type: text/plain", "", "body only"};
    r.st.attachments.push_back(MakeAttachment(dir.file("a.bin")));
    std::vector<int> gauge;
    EXPECT_THROW(PrepareAllMails(r.st, r.recipients, [&](int v) { gauge.push_back(v); }),
                 ComposeError);
    EXPECT_TRUE(r.outgoing.empty());
    EXPECT_TRUE(gauge.empty());

    // Without attachments such a mail is sent as its body.
    r.st.attachments.clear();
    r.prepare();
    ASSERT_EQ(r.outgoing.size(), 1u);
    EXPECT_EQ(r.outgoing[0].lines.toVector(), r.st.mailText.lines);
}

// A person's own file is read only as the message is sent, so it may have gone or
// changed since the run was prepared, also at the same size. The check before the
// message names the file; the reader compares the file it opened with the one counted,
// so a change that slips past the check still never lets a message out: it reports it
// and keeps the line count.
TEST(PrepareAllMails, OwnFilesChangedAfterPreparation) {
    struct Case {
        const char* what;
        std::function<void(const std::string& bin, const std::string& txt)> change;
        const char* checkSays; // nullptr: the check finds nothing
        bool readFails;
    };
    const Case cases[] = {
        {"unchanged", [](auto&, auto&) {}, nullptr, false},
        {"same size, other bytes",
         [](auto& bin, auto&) { test::RewriteInPlace(bin, std::string(1000, 'y')); },
         "Ann.bin changed since the mails were prepared", true},
        {"removed", [](auto& bin, auto&) { ::unlink(bin.c_str()); }, "Ann.bin does not exist",
         true},
        {"grown", [](auto& bin, auto&) { WriteFileBytes(bin, std::string(1001, 'x')); },
         "Ann.bin changed since the mails were prepared", true},
        {"shrunk", [](auto& bin, auto&) { WriteFileBytes(bin, std::string(999, 'x')); },
         "Ann.bin changed since the mails were prepared", true},
        {"now a folder",
         [](auto& bin, auto&) {
             ::unlink(bin.c_str());
             ::mkdir(bin.c_str(), 0700);
         },
         "Ann.bin is a folder, not a file", true},
        {"text of the same size in other lines",
         [](auto&, auto& txt) { test::RewriteInPlace(txt, "a\r\nb"); },
         "Ann.txt changed since the mails were prepared", true},
    };
    for (const Case& c : cases) {
        TempDir dir;
        RunSetup r;
        r.add("Ann", "ann@x.example");
        const std::string bin = dir.file("Ann.bin"), txt = dir.file("Ann.txt");
        WriteFileBytes(bin, std::string(1000, 'x'));
        WriteFileBytes(txt, "ab\r\n");
        r.st.attachments = {MakeAttachment(dir.file("[name].bin")),
                            MakeAttachment(dir.file("[name].txt"))};
        r.prepare();
        ASSERT_EQ(r.outgoing.size(), 1u);
        const MessageLines& m = r.outgoing[0].lines;
        c.change(bin, txt);

        const auto problem = m.checkDeferred();
        if (c.checkSays) {
            ASSERT_TRUE(problem) << c.what;
            EXPECT_NE(problem->find(c.checkSays), std::string::npos) << c.what << ": " << *problem;
        } else {
            EXPECT_EQ(problem, std::nullopt) << c.what;
        }
        std::size_t lines = 0;
        auto cursor = m.cursor();
        while (!cursor.atEnd()) {
            cursor.next();
            ++lines;
        }
        EXPECT_EQ(lines, m.size()) << c.what;
        EXPECT_EQ(cursor.failure().has_value(), c.readFails) << c.what;
        if (!c.readFails) {
            EXPECT_NE(tandrel::test::WireText(m).find("eHh4"), std::string::npos)
                << c.what << ": the file as it is now";
        }
    }
}
