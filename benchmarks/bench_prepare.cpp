// SPDX-License-Identifier: GPL-3.0-or-later
// Preparing a whole run in memory: many recipients sharing one attachment, or each
// with a file of their own read as the message is sent, with the time and the peak
// memory. Each case runs in a process of its own, so each peak is its own.
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "benchmarks/BenchUtil.h"
#include "merge/Preparation.h"

using namespace tandrel;
using namespace tandrel::bench;

namespace {

std::string RandomFile(const std::string& path, std::size_t bytes, unsigned seed) {
    std::string data(bytes, '\0');
    std::mt19937 rng(seed);
    for (char& c : data)
        c = static_cast<char>(rng());
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data.data(), 1, data.size(), f);
        std::fclose(f);
    }
    return path;
}

// `attachment` with "[name]" in it: every person has a file of their own. After the
// preparation every message is read line by line as the delivery reads it and then
// released, as the delivery releases an accepted message.
void Prepare(std::size_t people, const std::string& attachment) {
    AppState st;
    st.newDatabase();
    st.db->fields.push_back(Field{"city"});
    st.mailText.hasHeader = true;
    st.mailText.lines = {"Date: Tue, 05 Jan 1999 09:07:03 +0100",
                         "From: \"Sender\" <sender@mail.example>",
                         "To: \"[name]\" <[email]>",
                         "Subject: News for [name]",
                         "MIME-Version: 1.0",
                         "Content-type: text/plain",
                         "X-Mailer: Tandrel 1.1",
                         ""};
    for (int i = 0; i < 28; ++i)
        st.mailText.lines.push_back("Dear [name] of [city], this is line " + std::to_string(i) +
                                    " of a body of about two kilobytes........");
    std::vector<Person*> recipients;
    recipients.reserve(people);
    for (std::size_t i = 0; i < people; ++i) {
        Person& e = st.db->appendEntry();
        e.setName("person" + std::to_string(i));
        e.setEmail("person" + std::to_string(i) + "@mail.example");
        e.values = {e.name(), e.email(), "Springfield"};
        recipients.push_back(&e);
    }
    if (!attachment.empty()) st.attachments.push_back(MakeAttachment(attachment));
    int repaints = 0;
    std::shared_ptr<PreparedMailing> run;
    const double s = BestSeconds(1, [&] {
        run = PrepareMailing(st, std::make_shared<const RecipientList>(recipients),
                             [&](int) { ++repaints; });
    });
    const long preparedKb = PeakRssKb();
    std::uint64_t bytes = 0;
    std::size_t failed = 0;
    const double sendS = BestSeconds(1, [&] {
        for (std::size_t i = 0; i < run->count(); ++i) {
            const OutgoingMessage& m = run->message(i);
            if (!m.unfit.empty() || m.lines.checkDeferred()) ++failed;
            auto c = m.lines.cursor();
            while (!c.atEnd())
                bytes += c.next().size() + 2;
            if (c.failure()) ++failed;
            run->release(i);
        }
    });
    const bool own = attachment.find("[name]") != std::string::npos;
    std::printf("prepare: %6zu recipients%s: %8.1f ms, %d gauge changes, peak_rss %ld MB; "
                "read and released: %8.1f ms, %7.1f MB of messages, %zu failed, peak_rss %ld MB\n",
                people,
                attachment.empty() ? ", no attachment          "
                : own              ? ", own 100 KB file each   "
                                   : ", one shared 1 MB file   ",
                s * 1e3, repaints, preparedKb / 1024, sendS * 1e3, static_cast<double>(bytes) / 1e6,
                failed, PeakRssKb() / 1024);
    std::fflush(stdout);
}

// Runs one case in a child process.
template <class F> void Isolated(F&& f) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        f();
        std::_Exit(0);
    }
    int status = 0;
    if (pid > 0) ::waitpid(pid, &status, 0);
}

} // namespace

int main() {
    char dir[] = "/tmp/tandrel-bench-prepare-XXXXXX";
    if (!::mkdtemp(dir)) return 1;
    const std::string base = dir;
    const std::string pdf = RandomFile(base + "/shared.pdf", 1 << 20, 1);
    constexpr std::size_t kOwnPeople = 5000;
    for (std::size_t i = 0; i < kOwnPeople; ++i)
        RandomFile(base + "/person" + std::to_string(i) + ".pdf", 100 * 1024,
                   static_cast<unsigned>(i));

    Isolated([] { Prepare(1000, ""); });
    Isolated([] { Prepare(10000, ""); });
    Isolated([&] { Prepare(1000, pdf); });
    Isolated([&] { Prepare(100000, pdf); });
    Isolated([&] { Prepare(kOwnPeople, base + "/[name].pdf"); });
    for (std::size_t i = 0; i < kOwnPeople; ++i)
        ::unlink((base + "/person" + std::to_string(i) + ".pdf").c_str());
    ::unlink(pdf.c_str());
    ::rmdir(dir);
    return 0;
}
