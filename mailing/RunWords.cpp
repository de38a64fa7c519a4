// SPDX-License-Identifier: GPL-3.0-or-later
// The words of a delivery run. The dialogue reports what happened; these texts are what
// the user and the run log have always been told of it.
#include "mailing/RunWords.h"

#include <cerrno>

#include "model/VisibleText.h"
#include "smtp/ClientSocket.h"
#include "smtp/SmtpReply.h"

namespace tandrel {

namespace {

std::string Quoted(const std::string& s) {
    return "\"" + s + "\"";
}

// A reply in the report: one line per reply line, without line ends.
void AddReplyLines(std::vector<std::string>& report, const std::string& reply) {
    std::size_t pos = 0;
    do {
        std::size_t eol = reply.find('\n', pos);
        const std::size_t next = eol == std::string::npos ? reply.size() : eol + 1;
        if (eol == std::string::npos) eol = reply.size();
        std::size_t end = eol;
        if (end > pos && reply[end - 1] == '\r') --end;
        report.push_back(reply.substr(pos, end - pos));
        pos = next;
    } while (pos < reply.size());
}

// A reply inside one heading line: its line ends become blanks.
std::string OneLineReply(const std::string& reply) {
    std::string text = Shortened(reply, kLoggedReplyBytes);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    for (char& c : text)
        if (c == '\r' || c == '\n') c = ' ';
    return text;
}

struct ProblemWords {
    std::string heading;
    bool withReply = false;
    bool emptyLine = false; // problems of one message end with an empty line
};

ProblemWords WordsOfProblem(const DeliveryEvent& e) {
    const std::string to = Quoted(e.address);
    switch (e.problem) {
    case DeliveryProblem::CouldNotConnect:
        return {"Error, could not connect to server:", true};
    case DeliveryProblem::ConnectionRefusedForNow:
        return {"Error, server temporarily refused the connection, try again later:", true};
    case DeliveryProblem::ConnectionClosed:
        return {"Error, connection closed by server"};
    case DeliveryProblem::NoAnswerInTime:
        return {"Error, server did not answer in time, disconnecting"};
    case DeliveryProblem::ReplyTooLong:
        return {"Error, reply from server too long, disconnecting"};
    case DeliveryProblem::UnexpectedReply:
        return {"Error, unexpected reply from server", true};
    case DeliveryProblem::TlsFailed:
        return {e.detail};
    case DeliveryProblem::EhloRefused:
        return {"Error, server refused the EHLO command:", true};
    case DeliveryProblem::NoStartTls:
        return {"Error, the server offers no STARTTLS encryption"};
    case DeliveryProblem::StartTlsRefused:
        return {"Error, the server refused STARTTLS:", true};
    case DeliveryProblem::NoEncryptedLogin:
        return {"Error, the server offers no encrypted login"};
    case DeliveryProblem::NoLoginMethod:
        return {"Error, the server offers no login method (AUTH PLAIN or LOGIN)"};
    case DeliveryProblem::NoTokenLogin:
        return {"Error, the server offers no login with a token (XOAUTH2 or OAUTHBEARER)"};
    case DeliveryProblem::LoginRefused:
        return {"Error, login refused by server: " + OneLineReply(e.reply.text)};
    case DeliveryProblem::HeloNotRecognised:
        return {"Warning, server did not recognize helo command, attempting to resume:", true,
                true};
    case DeliveryProblem::HeloUnknownResponse:
        return {"Error, unknown response sending helo command, attempting to resume:", true, true};
    case DeliveryProblem::SenderRefused:
        return {"Error, server could not process sender's address, disconnecting:", true, true};
    case DeliveryProblem::RecipientRefused:
        return {"Error, illegal receipient " + to + ", resuming:", true, true};
    case DeliveryProblem::CopyRecipientRefused:
        return {"Warning, copy recipient " + Quoted(e.detail) + " of the mail to " + to +
                    " refused, the mail goes on:",
                true, true};
    case DeliveryProblem::MessageRefused:
        return {"Error, mail to: " + to + " could not be sent:", true, true};
    case DeliveryProblem::MessageRefusedForNow:
        return {"Error, mail to: " + to + " temporarily refused, try again later:", true, true};
    case DeliveryProblem::MessageGivenUp:
        return {"Error, unknown problem with " + to + ", resuming:", true, true};
    case DeliveryProblem::MessageUnfit:
        return {e.detail, false, true};
    case DeliveryProblem::MessageTooLarge:
        return {"Error, message to " + to + " is larger than the server accepts (" +
                    std::to_string(e.number) + " bytes)",
                false, true};
    case DeliveryProblem::MessageChanged:
        return {"Error, mail to: " + to + " not sent: " + e.detail, false, true};
    case DeliveryProblem::InternalFailure:
        break;
    }
    return {e.detail};
}

void AddProblem(EventWords& w, const DeliveryEvent& e) {
    if (e.problem == DeliveryProblem::InternalFailure) {
        // Our own failure's text, as it was raised.
        AddReplyLines(w.report, e.detail);
        w.runLog.push_back(e.detail);
        return;
    }
    const ProblemWords p = WordsOfProblem(e);
    w.report.push_back(p.heading);
    w.runLog.push_back(p.heading);
    if (p.withReply) {
        const std::string shown = Shortened(e.reply.text, kLoggedReplyBytes);
        AddReplyLines(w.report, shown);
        w.runLog.push_back(shown);
    }
    if (p.emptyLine) {
        w.report.emplace_back();
        w.runLog.emplace_back();
    }
}

constexpr const char* kSessionInitiated = "Connected to server - session initiated";

// The server's words reach the report, the run log and the status line as sent, but
// a control character in them is written out, not obeyed.
void MakeVisible(EventWords& w) {
    for (auto* lines : {&w.report, &w.runLog})
        for (std::string& line : *lines)
            line = VisibleLines(line);
    if (w.status) w.status = VisibleText(*w.status);
}

// What usually keeps a server silent after it took the connection.
constexpr const char* kSilentGreeting =
    "A server that takes the connection but never speaks usually expects encryption from "
    "the first byte (SSL/TLS, as on port 465), or the port belongs to another service than "
    "mail.";
constexpr const char* kSilentHandshake =
    "A server that takes the connection but never answers the encryption usually is "
    "another service than mail on that port.";

EventWords WordsOf(const DeliveryEvent& e) {
    using Kind = DeliveryEvent::Kind;
    EventWords w;
    switch (e.kind) {
    case Kind::Connecting:
        w.status = "Connecting...";
        break;
    case Kind::Connected:
        w.clearsReport = true;
        w.runLog = {"", "", kSessionInitiated};
        w.status = "Connected to Host";
        break;
    case Kind::ConnectionNotMade:
        w.clearsReport = true;
        if (!e.handshake) w.runLog = {"", ""};
        break;
    case Kind::Reconnected:
        w.runLog = {kSessionInitiated};
        break;
    case Kind::Encrypted:
        w.runLog = {"Connection encrypted"};
        break;
    case Kind::CommandSent:
        w.runLog = {e.detail};
        break;
    case Kind::ReplyReceived:
        w.runLog = {Shortened(e.reply.text, kLoggedReplyBytes)};
        break;
    case Kind::UnfinishedReply:
        w.runLog = {Shortened(e.detail, kLoggedReplyBytes)};
        break;
    case Kind::Sending:
        w.status = "Sending " + std::to_string(e.number) + " of " + std::to_string(e.total);
        break;
    case Kind::RateWait:
        w.status = "Rate limit: " + std::to_string(e.number) + "s";
        break;
    case Kind::Reconnecting:
        w.report = {"Reconnecting after " + std::to_string(e.number) + " messages"};
        break;
    case Kind::Accepted: {
        const std::string line = "Mail was sent to: " + Quoted(e.address);
        w.runLog = {line};
        w.report = {line};
        break;
    }
    case Kind::Problem:
        AddProblem(w, e);
        break;
    case Kind::ServerSilent: {
        const std::string line = "The server " + e.detail + " has not answered on port " + e.port +
                                 " for " + std::to_string(e.number) + " seconds; still waiting.";
        w.report = {line, e.handshake ? kSilentHandshake : kSilentGreeting};
        w.runLog = {line};
        break;
    }
    case Kind::RunEnded:
        if (e.number >= e.total)
            w.report.push_back("All letters have been sent");
        else
            w.report.push_back(std::to_string(e.number) + " of " + std::to_string(e.total) +
                               " letters have been sent");
        w.status = "Disconnected";
        if (e.errors) w.report.push_back("Some errors occurred!");
        break;
    }
    return w;
}

} // namespace

EventWords WordsFor(const DeliveryEvent& e) {
    EventWords w = WordsOf(e);
    MakeVisible(w);
    return w;
}

std::string MaybeDeliveredLine(const std::vector<std::string>& addresses) {
    if (addresses.empty()) return {};
    std::string line = std::to_string(addresses.size()) +
                       (addresses.size() == 1 ? " message" : " messages") +
                       " may have been delivered: ";
    for (std::size_t i = 0; i < addresses.size(); ++i)
        line += (i ? ", " : "") + addresses[i];
    return line;
}

std::string StoppedBySignalLine(const std::string& signalName) {
    return "Stopped by " + signalName + ", nothing more sent";
}

namespace {

// Where the window and the settings file keep the relay's address.
constexpr const char* kWhereRelayIsSet =
    "Check the server and port in Preferences (smtp= and port= under [Network] in Tandrel.ini).";

} // namespace

std::string ConnectionHint(const DeliveryEvent& event, const std::string& host,
                           const std::string& port) {
    if (event.kind != DeliveryEvent::Kind::Problem ||
        event.problem != DeliveryProblem::CouldNotConnect || event.socketError == 0)
        return {};
    const std::string what = event.socketError == SocketErrorFromErrno(ECONNREFUSED)
                                 ? " did not accept a connection on port "
                                 : " could not be reached on port ";
    return "The server " + host + what + port + ". " + kWhereRelayIsSet;
}

std::string ConnectErrorText(const std::string& host, const std::string& socketText) {
    if (socketText.find("WSocketResolveHost:") == std::string::npos) return socketText;
    return "Cannot find the server \"" + host +
           "\". Check the server name in Preferences (smtp= under [Network] in "
           "Tandrel.ini).\n\n" +
           socketText;
}

std::string NotPreparedText(const std::string& why) {
    return "the mails could not be prepared: " + why;
}

} // namespace tandrel
