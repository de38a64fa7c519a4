// Preparing a whole run in memory: many recipients sharing one attachment, with the
// time and the peak memory of the process.
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <unistd.h>

#include "BenchUtil.h"
#include "MailingRun.h"

using namespace tandrel;
using namespace tandrel::bench;

namespace {

void Prepare(std::size_t people, const std::string& attachment) {
    AppState st;
    st.NewDatabase();
    st.db->fields.push_back(VarIdent{"city"});
    st.mailText.MailHasHeader = true;
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
    std::vector<ReceipData*> recipients;
    recipients.reserve(people);
    for (std::size_t i = 0; i < people; ++i) {
        ReceipData& e = st.db->appendEntry();
        e.name = "Person " + std::to_string(i);
        e.email = "person" + std::to_string(i) + "@mail.example";
        e.values = {e.name, e.email, "Springfield"};
        recipients.push_back(&e);
    }
    if (!attachment.empty()) st.attachments.push_back(MakeAttachment(attachment));
    int repaints = 0;
    const double s =
        BestSeconds(1, [&] { PrepareAllMails(st, recipients, [&](int) { ++repaints; }); });
    std::size_t bytes = 0;
    for (const auto& m : st.outgoing)
        m.lines.forEach([&](std::string_view l) { bytes += l.size() + 2; });
    std::printf("prepare: %6zu recipients%s: %8.1f ms, %7.1f MB of messages, %d gauge changes, "
                "peak_rss %ld MB\n",
                people, attachment.empty() ? ", no attachment        " : ", one shared 1 MB file",
                s * 1e3, static_cast<double>(bytes) / 1e6, repaints, PeakRssKb() / 1024);
}

} // namespace

int main() {
    char path[] = "/tmp/tandrel-bench-prepare-XXXXXX";
    const int fd = ::mkstemp(path);
    std::string data(1 << 20, '\0');
    std::mt19937 rng(1);
    for (char& c : data)
        c = static_cast<char>(rng());
    if (fd < 0 || ::write(fd, data.data(), data.size()) != static_cast<ssize_t>(data.size()))
        return 1;
    ::close(fd);
    const std::string pdf = std::string(path) + ".pdf";
    ::rename(path, pdf.c_str());

    Prepare(1000, "");
    Prepare(10000, "");
    Prepare(1000, pdf);
    Prepare(100000, pdf);
    ::unlink(pdf.c_str());
    return 0;
}
