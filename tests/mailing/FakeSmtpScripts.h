// SPDX-License-Identifier: GPL-3.0-or-later
// Pieces of FakeSmtpServer scripts for delivery tests, and a delivery run against one.
#pragma once

#include <string>
#include <vector>

#include "tests/mailing/DeliveryHarness.h"
#include "tests/support/FakeSmtpServer.h"
#include "smtp/SmtpDialogue.h"
#include "tests/support/TestSupport.h"
#include "smtp/ClientSocket.h"

namespace tandrel::test {

inline const char* const kFrom = "sender@example.org";
inline const std::vector<std::string> kBody = {"Subject: hello", "", "Hi there,", "bye"};
inline const std::string kAll = "All letters have been sent";
inline const std::string kSome = "Some errors occurred!";

// The memo's summary when not every letter was accepted.
inline std::string Letters(int accepted, int total) {
    return std::to_string(accepted) + " of " + std::to_string(total) + " letters have been sent";
}

inline std::string SentTo(const std::string& a) {
    return "Mail was sent to: \"" + a + "\"";
}

inline OutgoingMessage Msg(const std::string& address, const std::vector<std::string>& lines = kBody) {
    OutgoingMessage m;
    m.address = address;
    m.lines = MessageLines(lines);
    return m;
}

// The message as it must appear on the wire after the 354: dot-stuffed lines with
// CR LF, then "." CR LF.
inline std::string Wire(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& l : lines)
        out += (l.rfind('.', 0) == 0 ? "." : "") + l + "\r\n";
    return out + ".\r\n";
}

inline void Greet(FakeSmtpServer& s) {
    s.reply("220 fake ready").expect("helo [127.0.0.1]").reply("250 fake");
}
inline void Envelope(FakeSmtpServer& s, const std::string& to) {
    s.expect(std::string("MAIL FROM:<") + kFrom + ">").reply("250 ok");
    s.expect("RCPT TO:<" + to + ">").reply("250 ok");
}
inline void Data(FakeSmtpServer& s, const std::vector<std::string>& lines = kBody) {
    s.expect("data").reply("354 go on").expectBytes(Wire(lines));
}
// A whole accepted message.
inline void Accepted(FakeSmtpServer& s, const std::string& to) {
    Envelope(s, to);
    Data(s);
    s.reply("250 queued");
}
inline void Quit(FakeSmtpServer& s) {
    s.expect("quit").reply("221 bye").expectClose();
}

// Counts the socket's onDataSent events of the dialogue (one per hand-over drained).
inline void CountDataSent(DeliveryRun& run, int& counter) {
    SmtpDialogue& dialogue = run.dialogue();
    auto inner = dialogue.socket().onDataSent;
    dialogue.socket().onDataSent = [inner, &counter](ClientSocket* s, int e) {
        ++counter;
        inner(s, e);
    };
}

// One delivery with a recording listener, its logs and a directory for the run log.
struct Delivery {
    TempDir dir;
    std::string logPath = dir.file("Tandrel.log");
    std::vector<std::string> runLog, sentLog;
    RecordingListener listener;
    DeliveryRun dialogue{listener, runLog, sentLog};

    DeliveryConfig config(const FakeSmtpServer& s) {
        return {"127.0.0.1", s.portText(), kFrom, "testhost"};
    }
    void start(const OutgoingList& msgs, int count, const DeliveryConfig& c) {
        dialogue.start(msgs, count, c, logPath);
    }
    // Runs to the end, then does the caller's clean-up.
    bool deliver(FakeSmtpServer& s, const OutgoingList& msgs, int timeoutMs = 15000) {
        s.start();
        start(msgs, static_cast<int>(msgs.size()), config(s));
        bool over = false;
        // Stop early when the server has already seen something wrong.
        for (int waited = 0; !over && waited < timeoutMs && s.failures().empty(); waited += 100)
            over = WaitForRunEnd(dialogue, listener, 100);
        dialogue.closeConnection();
        EXPECT_TRUE(s.waitDone());
        return over && listener.ended;
    }
};

} // namespace tandrel::test
