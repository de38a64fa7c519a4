// SPDX-License-Identifier: GPL-3.0-or-later
// The mailing run without any window, against real servers on loopback (and, for the
// run's own course, a transport without a socket): what each person got, and the three
// files a run leaves (run log, sent log, results).
#include <QTcpServer>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <set>
#include <sys/stat.h>
#include <tuple>

#include "tests/mailing/DeliveryHarness.h"
#include "tests/support/FakeTransport.h"
#include "model/MailFile.h"
#include "mailing/MailingRun.h"
#include "merge/Preparation.h"
#include "model/RunResults.h"
#include "tests/support/SmtpServers.h"
#include "tests/support/TestSupport.h"
#include "model/TextFile.h"
#include "tests/support/WireText.h"

using namespace tandrel;
using namespace tandrel::test;

namespace {

const std::vector<std::string> kPeople{"ann@example.org", "bob@example.org", "cleo@example.org"};

// A session as the command line or the window holds it: settings, people, the mail.
struct Session {
    TempDir dir;
    AppState st;
    MailEditors eds{"\"Sender\" <sender@example.org>",
                    "\"[name]\" <[email]>",
                    "Hello [name]",
                    {"Dear [name],", "a note for you."}};
    std::vector<Person*> people;

    explicit Session(const std::string& port) {
        st.programDir = dir.path();
        st.computerName = "testhost";
        st.prefs.smtp = "127.0.0.1";
        st.prefs.port = port;
        st.prefs.fromAddress = "sender@example.org";
        st.newDatabase();
        for (const std::string& address : kPeople) {
            Person& e = st.db->appendEntry();
            e.setName(address.substr(0, address.find('@')));
            e.setEmail(address);
            e.values = {e.name(), e.email()};
            people.push_back(&e);
        }
    }
    // One run through every step; `whileRunning` is called once the delivery started.
    MailingSummary send(const std::vector<Person*>& rows, RecordingListener& observer,
                        const std::function<void(MailingRun&)>& whileRunning = {}) {
        BuildMailText(st, eds);
        MailingRun run(st, rows, eds.subject);
        EXPECT_TRUE(run.check().empty());
        run.start(observer);
        EXPECT_EQ(run.state(), RunState::Delivering);
        if (whileRunning) whileRunning(run);
        EXPECT_TRUE(QTest::qWaitFor([&run] { return run.ended(); }, 30000));
        return run.summary();
    }
    std::vector<std::string> lines(const std::string& path) const {
        return SplitTextLines(ReadFileBytes(path));
    }
};

// Checks one sent-log block from `at`; returns the index after it.
std::size_t ExpectBlock(const std::vector<std::string>& lines, std::size_t at,
                        const std::string& subject, const std::vector<std::string>& addresses) {
    std::vector<std::string> rest{"", "Subject: " + subject, "", "Mails sent to:"};
    rest.insert(rest.end(), addresses.begin(), addresses.end());
    rest.insert(rest.end(), {"", ""});
    if (at + 1 + rest.size() > lines.size()) {
        ADD_FAILURE() << "block missing at line " << at;
        return lines.size();
    }
    EXPECT_TRUE(lines[at].starts_with("Mailing started ")) << lines[at];
    EXPECT_EQ(
        std::vector<std::string>(lines.begin() + at + 1, lines.begin() + at + 1 + rest.size()),
        rest);
    return at + 1 + rest.size();
}

bool Holds(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

} // namespace

// A refused recipient among accepted ones: the typed outcome carries the server's code
// and enhanced status, the results file and the sent log agree with it, and every run
// adds its own block and run log lines after what earlier runs and sessions left.
TEST(MailingRun, EachOutcomeReachesTheResultsTheSentLogAndTheRunLog) {
    AiosmtpdOptions options;
    options.refused = {"bob@example.org"};
    AiosmtpdServer server(options);
    Session s(server.portText());
    WriteFileBytes(s.st.sentLogPath(), "from an earlier start\r\n\r\n");
    WriteFileBytes(s.st.runLogPath(), "an earlier run\r\n");

    RecordingListener first;
    const MailingSummary summary = s.send(s.people, first);
    EXPECT_EQ(summary.accepted, 2);
    EXPECT_EQ(summary.recipients, 3);
    EXPECT_TRUE(summary.failed());
    EXPECT_TRUE(summary.fileErrors.empty());
    using O = MessageOutcome;
    EXPECT_EQ(first.outcomes, (std::vector<std::pair<std::size_t, O>>{
                                  {0, O::Accepted}, {1, O::Refused}, {2, O::Accepted}}));
    EXPECT_EQ(first.outcomeReplies[0].code, 250);
    EXPECT_EQ(first.outcomeReplies[1].code, 550);
    EXPECT_EQ(first.outcomeReplies[1].enhancedStatus, "5.1.1");
    const auto results = ReadRunResults(s.st.runResultsPath());
    ASSERT_EQ(results.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_EQ(results[i].outcome, i == 1 ? Outcome::Refused : Outcome::Accepted) << i;

    s.eds.subject = "Second";
    RecordingListener second;
    s.send({s.people[2], s.people[0]}, second);
    ASSERT_TRUE(server.waitForMessages(4));
    std::vector<std::string> envelopes;
    for (const StoredMessage& m : server.messages())
        envelopes.push_back(m.rcptTo.at(0));
    EXPECT_EQ(envelopes,
              (std::vector<std::string>{kPeople[0], kPeople[2], kPeople[2], kPeople[0]}));

    const auto sent = s.lines(s.st.sentLogPath());
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(sent[0], "from an earlier start");
    std::size_t at = ExpectBlock(sent, 2, "Hello [name]", {kPeople[0], kPeople[2]});
    at = ExpectBlock(sent, at, "Second", {kPeople[2], kPeople[0]});
    EXPECT_EQ(at, sent.size());

    const auto log = s.lines(s.st.runLogPath());
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 4),
              (std::vector<std::string>{"an earlier run", "", "",
                                        "Connected to server - session initiated"}));
    EXPECT_TRUE(Holds(log, "Error, illegal receipient \"bob@example.org\", resuming:"));
    EXPECT_TRUE(Holds(log, "Mail was sent to: \"cleo@example.org\""));
    EXPECT_EQ(std::count(log.begin(), log.end(), "Connected to server - session initiated"), 2);
}

// Cancel stops at once: nobody is reached, and the run log so far, the empty block and
// the results are written then, not left for a later run.
TEST(MailingRun, CancelStopsAtOnceAndKeepsWhatTheRunDid) {
    QTcpServer silent; // accepts the connection and never greets
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    Session s(std::to_string(silent.serverPort()));
    RecordingListener observer;
    const MailingSummary summary = s.send(s.people, observer, [&observer](MailingRun& run) {
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                return !observer.statuses.empty() &&
                       observer.statuses.back() == "Connected to Host";
            },
            5000));
        run.cancel();
    });
    EXPECT_EQ(summary.accepted, 0);
    EXPECT_FALSE(observer.ended);
    EXPECT_EQ(observer.outcomes.size(), 3u);
    for (const auto& result : ReadRunResults(s.st.runResultsPath()))
        EXPECT_EQ(result.outcome, Outcome::NotAttempted);
    const auto sent = s.lines(s.st.sentLogPath());
    EXPECT_EQ(ExpectBlock(sent, 0, "Hello [name]", {}), sent.size());
    EXPECT_EQ(s.lines(s.st.runLogPath()),
              (std::vector<std::string>{"", "", "Connected to server - session initiated"}));
}

// A front end may cancel the run from any call: on hearing of a step, or while the
// messages are prepared. The run stops there, tells its end once, and nothing reaches
// the server; cancelled before the delivery, it leaves none of the run's files.
TEST(MailingRun, CancelledFromAFrontEndCallItStopsThereAndSendsNothing) {
    struct CancelAt : RecordingListener {
        MailingRun* run = nullptr;
        std::optional<RunState> state; // cancel on hearing of it; none: at the first progress
        int endings = 0;
        void stateChanged(RunState now) override {
            RecordingListener::stateChanged(now);
            if (state == now) run->cancel();
        }
        void preparationProgress(int) override {
            if (!state) run->cancel();
        }
        void runEnded(const MailingSummary& summary) override {
            ++endings;
            RecordingListener::runEnded(summary);
        }
    };
    const struct {
        const char* name;
        std::optional<RunState> state;
        RunEnding ending;
    } rows[] = {
        {"on hearing of the check", RunState::Checking, RunEnding::Cancelled},
        {"on hearing of the preparation", RunState::Preparing, RunEnding::Cancelled},
        {"while preparing", std::nullopt, RunEnding::Cancelled},
        {"on hearing of the delivery", RunState::Delivering, RunEnding::Delivered},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        AiosmtpdServer server;
        Session s(server.portText());
        BuildMailText(s.st, s.eds);
        MailingRun run(s.st, s.people, s.eds.subject);
        CancelAt frontEnd;
        frontEnd.run = &run;
        frontEnd.state = r.state;
        run.start(frontEnd);
        QTest::qWait(1000); // a delivery under way would connect and send meanwhile
        EXPECT_TRUE(run.ended());
        EXPECT_EQ(frontEnd.endings, 1);
        ASSERT_TRUE(frontEnd.runSummary.has_value());
        EXPECT_EQ(frontEnd.runSummary->ending, r.ending);
        EXPECT_EQ(frontEnd.runSummary->accepted, 0);
        EXPECT_TRUE(server.messages().empty());
        if (r.ending != RunEnding::Cancelled) continue;
        for (const std::string& path :
             {s.st.sentLogPath(), s.st.runLogPath(), s.st.runResultsPath()})
            EXPECT_FALSE(FileExists(path)) << path;
    }
}

// A server that refuses every recipient: nobody is reached, and the run still gets its
// block in the sent log.
TEST(MailingRun, AServerThatAcceptsNothingStillGetsItsBlock) {
    SmtpSinkServer sink({"-f", "RCPT", "-B", "550 5.1.1 Recipient address rejected"});
    Session s(sink.portText());
    RecordingListener observer;
    const MailingSummary summary = s.send(s.people, observer);
    EXPECT_EQ(summary.accepted, 0);
    for (const std::string& a : kPeople)
        EXPECT_TRUE(Holds(observer.memo, "Error, illegal receipient \"" + a + "\", resuming:"));
    EXPECT_EQ(observer.memo.back(), "Some errors occurred!");
    const auto sent = s.lines(s.st.sentLogPath());
    EXPECT_EQ(ExpectBlock(sent, 0, "Hello [name]", {}), sent.size());
}

// The messages composed as the connections take them are those an eager preparation
// makes, byte for byte (Date and Message-ID aside), over one connection and over four
// pipelining ones, with a shared attachment and each person's own file. A person's file
// removed after the preparation stops that person's message alone.
TEST(MailingRun, MessagesComposedLateAreThoseOfAnEagerPreparation) {
    TempDir files;
    std::mt19937 rng(26);
    std::string shared(30000, '\0');
    for (char& c : shared)
        c = static_cast<char>(rng());
    WriteFileBytes(files.file("shared.bin"), shared);
    for (int connections : {1, 4}) {
        SCOPED_TRACE(std::to_string(connections) + " connections");
        AiosmtpdServer server;
        Session s(server.portText());
        for (int i = 0; i < 6; ++i) {
            Person& e = s.st.db->appendEntry();
            e.setName("p" + std::to_string(i));
            e.setEmail(e.name() + "@example.org");
            e.values = {e.name(), e.email()};
            s.people.push_back(&e);
        }
        for (const Person* p : s.people)
            WriteFileBytes(files.file(p->name() + ".txt"),
                           "For " + p->name() + "\r\n.a dot\r\n--partbound\r\n--partbound--\r\n");
        s.st.prefs.ehlo = "yes";
        s.st.prefs.connections = connections;
        s.st.attachments = {MakeAttachment(files.file("shared.bin")),
                            MakeAttachment(files.file("[name].txt"))};
        s.eds.body.push_back(".dot");
        BuildMailText(s.st, s.eds);
        std::map<std::string, std::string> eager;
        for (const OutgoingMessage& m : PrepareAllMails(s.st, s.people, {}))
            eager[m.address] = WithoutDateAndId(WireText(m.lines));

        RecordingListener observer;
        MailingRun run(s.st, s.people, s.eds.subject);
        const std::string gone = s.people.back()->email();
        observer.onState = [&](RunState state) { // prepared, not yet sent
            if (state == RunState::Delivering)
                std::filesystem::remove(files.file(s.people.back()->name() + ".txt"));
        };
        eager.erase(gone);
        const MailingSummary summary = RunToEnd(run, observer);
        EXPECT_EQ(summary.accepted, static_cast<int>(s.people.size()) - 1);
        EXPECT_TRUE(std::any_of(observer.memo.begin(), observer.memo.end(), [&](const auto& l) {
            return l.starts_with("Error, mail to: \"" + gone + "\" not sent");
        }));
        ASSERT_TRUE(server.waitForMessages(eager.size()));
        std::map<std::string, std::string> got;
        for (const StoredMessage& m : server.messages())
            got[m.rcptTo.at(0)] = WithoutDateAndId(m.data);
        EXPECT_EQ(got, eager);
    }
}

// With PIPELINING, a real server refuses one person's own address, for good or for now,
// and accepts that person's Cc and Bcc addresses: nobody gets anything of that person's
// message, over one connection or several, and the person's outcome is the refusal.
// Everybody else's message reaches them and their copies, once.
TEST(MailingRun, NobodyGetsTheMessageOfAPersonWhoseOwnAddressWasRefused) {
    using O = MessageOutcome;
    const auto copiesOf = [](const std::string& person) {
        const std::string local = person.substr(0, person.find('@'));
        return std::vector<std::string>{person, "boss-" + local + "@example.net",
                                        "audit-" + local + "@example.net"};
    };
    const std::string refused = kPeople[1];
    struct Row {
        std::string code;
        int connections;
        O outcome;
    };
    for (const Row& row : {Row{"550", 1, O::Refused},
                           {"451", 1, O::TemporarilyRefused},
                           {"550", 3, O::Refused},
                           {"451", 3, O::TemporarilyRefused}}) {
        SCOPED_TRACE(row.code + ", " + std::to_string(row.connections) + " connections");
        AiosmtpdOptions options;
        options.pipelining = true;
        options.refused = {refused + "=" + row.code};
        AiosmtpdServer server(options);
        Session s(server.portText());
        s.st.prefs.ehlo = "yes";
        s.st.prefs.connections = row.connections;
        s.eds.headerLines = {{"Cc", "boss-[name]@example.net"},
                             {"Bcc", "audit-[name]@example.net"}};

        RecordingListener observer;
        const MailingSummary summary = s.send(s.people, observer);
        EXPECT_EQ(summary.accepted, 2);
        EXPECT_EQ(observer.outcomes, (std::vector<std::pair<std::size_t, O>>{
                                         {0, O::Accepted}, {1, row.outcome}, {2, O::Accepted}}));
        std::map<std::string, int> got; // envelope -> messages stored for it
        for (const StoredMessage& m : server.messages()) {
            std::string envelope;
            for (const std::string& to : m.rcptTo)
                envelope += to + " ";
            ++got[envelope];
        }
        std::map<std::string, int> want;
        for (const std::string& person : {kPeople[0], kPeople[2]}) {
            std::string envelope;
            for (const std::string& to : copiesOf(person))
                envelope += to + " ";
            want[envelope] = 1;
        }
        EXPECT_EQ(got, want);
    }
}

// A person's own file is read again as the message is sent or written by a dry run, so
// what tells it apart is kept from the preparation: a file put in its place, even of the
// same size, refuses that person with the reason; the others get exactly what the
// preparation made.
TEST(MailingRun, AFileReplacedAfterThePreparationRefusesItsPersonAlone) {
    const auto reversed = [](const std::string& path) {
        const std::string bytes = ReadFileBytes(path);
        return std::string(bytes.rbegin(), bytes.rend());
    };
    const auto setModified = [](const std::string& path, const timespec& when) {
        const timespec times[2] = {{0, UTIME_OMIT}, when};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
    };
    const auto statOf = [](const std::string& path) {
        struct stat sb {};
        EXPECT_EQ(::stat(path.c_str(), &sb), 0) << path;
        return sb;
    };
    struct Swap {
        const char* what;
        const char* extension; // the person's base64 or text part
        std::function<void(const std::string& path)> swap;
    };
    const Swap swaps[] = {
        {"another file of the same size renamed over it", ".bin",
         [&](const std::string& path) {
             WriteFileBytes(path + ".new", reversed(path));
             ASSERT_EQ(std::rename((path + ".new").c_str(), path.c_str()), 0);
         }},
        {"rewritten in place at the same size, its modification time set back", ".txt",
         [&](const std::string& path) {
             const struct stat before = statOf(path);
             RewriteInPlace(path, reversed(path));
             setModified(path, before.st_mtim);
             const struct stat after = statOf(path);
             EXPECT_EQ(
                 std::tie(after.st_ino, after.st_size, after.st_mtim.tv_sec, after.st_mtim.tv_nsec),
                 std::tie(before.st_ino, before.st_size, before.st_mtim.tv_sec,
                          before.st_mtim.tv_nsec));
         }},
        {"the same bytes, touched", ".bin",
         [&](const std::string& path) {
             const timespec modified = statOf(path).st_mtim;
             setModified(path, {modified.tv_sec + 1, modified.tv_nsec});
         }},
    };
    TempDir files;
    std::mt19937 rng(27);
    AiosmtpdServer server;
    Session s(server.portText());
    for (const char* name : {"dan", "eve"}) {
        Person& e = s.st.db->appendEntry();
        e.setName(name);
        e.setEmail(e.name() + "@example.org");
        e.values = {e.name(), e.email()};
        s.people.push_back(&e);
    }
    for (const Person* p : s.people) {
        std::string bytes(3000, '\0');
        for (char& c : bytes)
            c = static_cast<char>(rng());
        WriteFileBytes(files.file(p->name() + ".bin"), bytes);
        WriteFileBytes(files.file(p->name() + ".txt"), "For " + p->name() + "\r\nand no other\r\n");
    }
    WriteFileBytes(files.file("shared.txt"), "For everybody\r\n");
    s.st.attachments = {MakeAttachment(files.file("shared.txt")),
                        MakeAttachment(files.file("[name].bin")),
                        MakeAttachment(files.file("[name].txt"))};
    BuildMailText(s.st, s.eds);
    const std::size_t swapped = std::size(swaps);
    std::map<std::string, std::string> expected;
    const OutgoingList eager = PrepareAllMails(s.st, s.people, {});
    for (std::size_t i = swapped; i < eager.size(); ++i)
        expected[eager[i].address] = WithoutDateAndId(WireText(eager[i].lines));
    const auto pathOf = [&](std::size_t row) {
        return files.file(s.people[row]->name() + swaps[row].extension);
    };
    const auto reason = [&](std::size_t row) {
        return "The attachment file " + pathOf(row) + " changed since the mails were prepared";
    };

    RecordingListener observer;
    MailingRun run(s.st, s.people, s.eds.subject);
    observer.onState = [&](RunState state) { // prepared, not yet sent
        if (state != RunState::Delivering) return;
        for (std::size_t row = 0; row < swapped; ++row)
            swaps[row].swap(pathOf(row));
    };
    EXPECT_EQ(RunToEnd(run, observer).accepted, static_cast<int>(expected.size()));
    for (std::size_t row = 0; row < swapped; ++row)
        EXPECT_TRUE(Holds(observer.memo, "Error, mail to: \"" + s.people[row]->email() +
                                             "\" not sent: " + reason(row)))
            << swaps[row].what;
    ASSERT_TRUE(server.waitForMessages(expected.size()));
    std::map<std::string, std::string> got;
    for (const StoredMessage& m : server.messages())
        got[m.rcptTo.at(0)] = WithoutDateAndId(m.data);
    EXPECT_EQ(got, expected);

    // A dry run stops at such a person instead of writing a message that would differ.
    for (std::size_t row = 0; row < swapped; ++row) {
        MailingRun dry(s.st, s.people, s.eds.subject);
        RecordingListener frontEnd;
        frontEnd.onState = [&](RunState state) {
            if (state == RunState::Delivering) swaps[row].swap(pathOf(row));
        };
        RunOptions options;
        options.dryRunDir = files.file("out");
        const MailingSummary summary = RunToEnd(dry, frontEnd, std::move(options));
        EXPECT_EQ(summary.ending, RunEnding::DryRunFailed);
        const std::string error = summary.problem;
        EXPECT_EQ(error, "Mail to \"" + s.people[row]->email() + "\" not written: " + reason(row))
            << swaps[row].what;
    }
}

namespace {

// A login source that answers on the next turn of the event loop, as a question on the
// screen does, and counts the questions.
class LaterCredentials : public CredentialSource {
public:
    explicit LaterCredentials(CredentialsAnswer answer) : answer_(std::move(answer)) {}
    int asked = 0;
    void requestCredentials(const CredentialRequest&, CredentialsCallback answer) override {
        ++asked;
        QTimer::singleShot(0, [given = answer_, answer = std::move(answer)] { answer(given); });
    }

private:
    CredentialsAnswer answer_;
};

} // namespace

// Each way a run can end, on a transport that needs no socket: what the front end is
// asked and told, what reached the transport, and what the results file and the sent
// log hold afterwards (read back from the files).
TEST(MailingRun, EachWayARunEndsAsItsFrontEndAndItsFilesTell) {
    using O = Outcome;
    const CredentialsAnswer password{Credentials{"ann", "secret"}, ""};
    struct Row {
        const char* what;
        bool warning = false;    // a placeholder that names no field
        bool sendAnyway = true;  // the front end's answer to it
        std::optional<CredentialsAnswer> login; // a login user, and the source's answer
        bool spoilPreparation = false;
        std::set<std::string> refused;
        bool cancelAfterFirst = false;
        RunEnding ending = RunEnding::Delivered;
        std::string problem;
        std::vector<O> results;            // empty: no results file
        std::vector<std::string> sentTo;   // the block's addresses
        bool block = true;                 // a sent-log block was written
    };
    const Row rows[] = {
        {"warnings declined", true, false, {}, false, {}, false, RunEnding::CheckDeclined, "",
         {}, {}, false},
        {"warnings let through", true, true, {}, false, {}, false, RunEnding::Delivered, "",
         {O::Accepted, O::Accepted, O::Accepted}, kPeople},
        {"login declined", false, true, CredentialsAnswer{}, false, {}, false,
         RunEnding::CredentialsDeclined, "", {}, {}, false},
        {"no login to be had", false, true, CredentialsAnswer{std::nullopt, "no token today"},
         false, {}, false, RunEnding::CredentialsFailed, "no token today", {}, {}, false},
        {"a password with a line break", false, true,
         CredentialsAnswer{Credentials{"ann", "sec\r\nret"}, ""}, false, {}, false,
         RunEnding::CredentialsFailed, "the password holds a line break", {}, {}, false},
        {"login given later", false, true, password, false, {}, false, RunEnding::Delivered, "",
         {O::Accepted, O::Accepted, O::Accepted}, kPeople},
        {"preparation fails", false, true, password, true, {}, false,
         RunEnding::PreparationFailed, "", {}, {}, false},
        {"refusals", false, true, {}, false, {kPeople[0], kPeople[2]}, false,
         RunEnding::Delivered, "", {O::Refused, O::Accepted, O::Refused}, {kPeople[1]}},
        {"cancelled after the first", false, true, {}, false, {}, true, RunEnding::Delivered, "",
         {O::Accepted, O::NotAttempted, O::NotAttempted}, {kPeople[0]}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Session s("25");
        if (row.warning) s.eds.body.push_back("[nosuchfield]");
        if (row.login) {
            s.st.prefs.user = "ann";
            s.st.prefs.security = "starttls";
        }
        if (row.spoilPreparation) { // an attachment needs a header block
            WriteFileBytes(s.dir.file("a.txt"), "text\r\n");
            s.st.attachments = {MakeAttachment(s.dir.file("a.txt"))};
            s.eds.from = s.eds.to = s.eds.subject = "";
        }
        BuildMailText(s.st, s.eds);
        FakeTransportLog sent;
        RunOptions options;
        options.transport = std::make_unique<FakeTransport>(sent, row.refused);
        LaterCredentials source(row.login.value_or(password));
        options.credentials = &source;
        RecordingListener frontEnd;
        frontEnd.sendAnyway = row.sendAnyway;
        MailingRun run(s.st, s.people, s.eds.subject);
        if (row.cancelAfterFirst)
            frontEnd.onOutcome = [&](std::size_t message) {
                if (message == 0) run.cancel("SIGTERM");
            };
        const MailingSummary summary = RunToEnd(run, frontEnd, std::move(options));

        ASSERT_TRUE(frontEnd.runSummary.has_value());
        EXPECT_EQ(summary.ending, row.ending);
        if (!row.problem.empty()) {
            EXPECT_EQ(summary.problem, row.problem);
        }
        if (row.ending == RunEnding::PreparationFailed) {
            EXPECT_FALSE(summary.problem.empty());
        }
        EXPECT_EQ(frontEnd.shownProblems.size(), row.warning ? 1u : 0u);
        EXPECT_EQ(source.asked, row.login && (!row.warning || row.sendAnyway) ? 1 : 0);
        EXPECT_EQ(frontEnd.states.back(), RunState::Ended);
        // Nothing is prepared before the questions are answered.
        EXPECT_EQ(run.prepared() != nullptr, row.ending == RunEnding::Delivered);
        const bool delivered = row.ending == RunEnding::Delivered;
        EXPECT_EQ(sent.started, delivered);
        EXPECT_EQ(summary.accepted, static_cast<int>(row.sentTo.size()));
        EXPECT_EQ(summary.failed(), delivered && row.sentTo.size() < kPeople.size());
        if (row.cancelAfterFirst) {
            EXPECT_EQ(sent.addresses, std::vector<std::string>{kPeople[0]});
            EXPECT_EQ(summary.stoppedBy, "SIGTERM");
        } else if (delivered) {
            EXPECT_EQ(sent.addresses, kPeople);
            EXPECT_NE(sent.texts[kPeople[1]].find("Dear bob,"), std::string::npos);
        }
        std::vector<O> results;
        if (FileExists(s.st.runResultsPath()))
            for (const auto& result : ReadRunResults(s.st.runResultsPath()))
                results.push_back(result.outcome);
        EXPECT_EQ(results, row.results);
        EXPECT_EQ(FileExists(s.st.sentLogPath()), row.block);
        if (row.block) {
            const auto lines = s.lines(s.st.sentLogPath());
            EXPECT_EQ(ExpectBlock(lines, 0, "Hello [name]", row.sentTo), lines.size());
        }
    }
}
