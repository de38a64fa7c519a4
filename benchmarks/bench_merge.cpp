// SPDX-License-Identifier: GPL-3.0-or-later
// Merge speed: one entry merged into a large body full of placeholders, at two sizes
// to show that the cost grows linearly; and a run's worth of small bodies.
#include <cstdio>
#include <string>
#include <vector>

#include "benchmarks/BenchUtil.h"
#include "merge/Compose.h"
#include "merge/Merge.h"

using namespace tandrel;
using namespace tandrel::bench;

namespace {

const std::vector<Field> kFields = {{"name"}, {"email"}, {"title"},   {"street"},  {"city"},
                                       {"zip"},  {"phone"}, {"company"}, {"country"}, {"notes"}};

Person MakeEntry(int i) {
    Person e;
    e.setName("Person " + std::to_string(i));
    e.setEmail("person" + std::to_string(i) + "@mail.example");
    e.values = {e.name(),  e.email(),    "Dr.",  "Long Street 12", "Springfield",
                "12345", "555-0100", "Acme", "Utopia",         "likes [brackets] too"};
    return e;
}

// About `bytes` of text with `placeholders` placeholders spread evenly over it, in
// lines of about 70 characters.
std::string MakeBody(std::size_t bytes, std::size_t placeholders) {
    static const char* const kPlaceholders[] = {"[name]", "[email]",   "[title]",   "[city]",
                                                "[zip]",  "[company]", "[unknown]", "[notes]"};
    const std::string filler = "The quick brown fox jumps over the lazy dog, again and again. ";
    std::string text;
    text.reserve(bytes + 256);
    const std::size_t gap = bytes / placeholders;
    std::size_t next = 0, k = 0, col = 0;
    while (text.size() < bytes) {
        if (text.size() >= next && k < placeholders) {
            text += kPlaceholders[k % 8];
            ++k;
            next += gap;
        } else {
            text += filler[text.size() % filler.size()];
        }
        if (++col >= 70) {
            text += "\r\n";
            col = 0;
        }
    }
    return text;
}

double TimeMerge(std::size_t bytes, std::size_t placeholders) {
    const std::string body = MakeBody(bytes, placeholders);
    const Person e = MakeEntry(1);
    std::string out;
    const double s = BestSeconds(7, [&] {
        out = body;
        MergeEntry(kFields, e, out);
    });
    std::printf("merge: %5.2f MiB body, %6zu placeholders, %zu fields: %8.3f ms, %8.1f MB/s\n",
                MiB(static_cast<double>(body.size())), placeholders, kFields.size(), s * 1e3,
                static_cast<double>(body.size()) / s / 1e6);
    return s;
}

} // namespace

int main() {
    const double t1 = TimeMerge(1 << 20, 10000);
    const double t2 = TimeMerge(2 << 20, 20000);
    const double t4 = TimeMerge(4 << 20, 40000);
    std::printf("merge: growth 1 MiB -> 2 MiB: x%.2f, 2 MiB -> 4 MiB: x%.2f (linear: x2)\n",
                t2 / t1, t4 / t2);

    // 1000 recipients with a 2 KB body with placeholders in the header and the body.
    MailText mail;
    mail.hasHeader = true;
    mail.lines = {"Date: Tue, 05 Jan 1999 09:07:03 +0100",
                  "From: \"Sender\" <sender@mail.example>",
                  "To: \"[name]\" <[email]>",
                  "Subject: News for [name] in [city]",
                  "MIME-Version: 1.0",
                  "Content-type: text/plain",
                  "X-Mailer: Tandrel 1.1",
                  ""};
    const std::string body = MakeBody(2048, 20);
    for (auto& l : SplitLines(body))
        mail.lines.push_back(l);
    std::vector<Person> people;
    for (int i = 0; i < 1000; ++i)
        people.push_back(MakeEntry(i));
    const std::string joined = JoinLines(mail.lines);
    std::size_t lines = 0;
    const double s = BestSeconds(5, [&] {
        lines = 0;
        for (const auto& p : people)
            lines += ComposeMessage(kFields, mail, p).size();
    });
    std::printf("compose: 1000 recipients x %zu-byte mail: %.3f ms (%.2f us per message, %zu "
                "lines)\n",
                joined.size(), s * 1e3, s * 1e6 / 1000, lines);
    return 0;
}
