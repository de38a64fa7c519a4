// SPDX-License-Identifier: GPL-3.0-or-later
// Where a mailing run's messages go: the relay over SMTP, a folder of .eml files (the dry
// run), or, in tests, a recorder. The run hands the transport its messages and hears of
// them through a MailingObserver: the words of the report, the typed events, one
// outcome per message and the end.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "mailing/DryRun.h"
#include "mailing/MailingObserver.h"
#include "model/MessageSource.h"
#include "smtp/SmtpDialogue.h"

namespace tandrel {

// What a transport is given to send.
struct TransportJob {
    std::shared_ptr<MessageSource> messages;
    int recipientCount = 0;
    // Hears of every message; told deliveryEnded once when the transport ended by itself.
    MailingObserver* listener = nullptr;
    // Where each accepted address is added (the sent log's block); owned by the caller.
    std::vector<std::string>* accepted = nullptr;
};

class Transport {
public:
    virtual ~Transport() = default;
    // Starts sending. A failure before anything could start is thrown as a
    // std::runtime_error with its text (the socket's, for a connection not made).
    // The end may be told before this returns (a transport that works at once).
    virtual void start(TransportJob job) = 0;
    // Stops where it stands; the run log so far is written (with the note of the
    // signal that stopped it, when one did). False when that write failed.
    virtual bool cancel(const std::string& stopSignalName) = 0;
    // The orderly close once the run is over; throws what went wrong.
    virtual void close() {}
    virtual bool running() const = 0;
    virtual int acceptedCount() const = 0;
    virtual bool errorsOccurred() const { return false; }
    // Why the run log could not be written; empty when it was.
    virtual std::string runLogError() const { return {}; }
    // For the dry run: what was written to the folder.
    virtual DryRunResult dryRunResult() const { return {}; }
};

// The relay: DeliveryRun over `config`, its run log kept in `runLog` (the session's, in
// memory; `runLogSaved` counts its lines in the file at `runLogPath`, "" for none).
std::unique_ptr<Transport> MakeSmtpTransport(DeliveryConfig config,
                                             std::vector<std::string>& runLog,
                                             std::size_t* runLogSaved, std::string runLogPath);

// The dry run: every message written to `dir` (see WriteDryRun), at once in start(),
// which throws the text naming the file or folder that could not be written.
std::unique_ptr<Transport> MakeDryRunTransport(std::string dir);

} // namespace tandrel
