// SPDX-License-Identifier: GPL-3.0-or-later
// A transaction of an SMTP session, as a state machine of its own: MAIL, RCPT (the
// person's address, then each Cc or Bcc address), DATA, the data, the end-of-data mark,
// and RSET to begin a message again (DialogueTransaction.cpp and DialogueData.cpp make the
// moves). Each message of the run has a stage of its own besides.
//
//   step            event                                   next step
//   --------------  --------------------------------------  --------------------------------
//   Idle            a message to send, no PIPELINING        Envelope (MAIL sent)
//   Idle            a message to send, PIPELINING           PipelinedEnvelope (MAIL, RCPT..
//                                                           and, without copies, DATA sent)
//   Envelope        MAIL 2xx                                Envelope (RCPT sent)
//   Envelope        RCPT 2xx, copies left                   Envelope (the next copy's RCPT)
//   Envelope        RCPT 2xx or copy answered, none left    DataAsked (DATA sent)
//   PipelinedEnvel. the last copy answered                  DataAsked (DATA sent)
//   Envelope, ...   DATA 354                                Lines
//   Lines           a batch drained, lines left             Lines (the next batch)
//   Lines           the mark sent, nothing behind it        Idle (the mark's reply awaited)
//   Lines           the mark sent with the next envelope    EnvelopeBehindMark
//   EnvelopeBehind. the mark's reply                        PipelinedEnvelope
//   Idle            the mark's reply                        Idle (the next message begins)
//   any             refused as the command table says       Resetting (RSET sent), Idle
//                                                           (QUIT sent) or the run ends
//   Resetting       RSET answered                           Idle (the message begins again)
//
//   message stage   event                                   next stage
//   NotTaken        taken from the queue                    Taken
//   Taken           its end-of-data mark sent               EndMarkSent
//   Taken,          its outcome told                        Decided
//   EndMarkSent
//   Taken           given back to a shared queue at the end NotTaken
#pragma once

#include <cstddef>

namespace tandrel {

enum class TransactionStep {
    Idle,               // no envelope of the current message sent (maybe an end mark's reply due)
    Envelope,           // MAIL, RCPT and copies go one by one, each after the last reply
    PipelinedEnvelope,  // MAIL, RCPT and copies (and DATA without copies) went together
    EnvelopeBehindMark, // the same, sent behind the last message's end-of-data mark
    DataAsked,          // DATA sent one by one: 354 is awaited
    Lines,              // the data goes out in batches
    Resetting,          // RSET sent: the message begins again once it is answered
};

enum class MessageStage : unsigned char {
    NotTaken,    // not this connection's (yet)
    Taken,       // taken from the queue: this connection sends it
    EndMarkSent, // its end-of-data mark went out: its reply may still be due
    Decided,     // its outcome went to the listener
};

struct Transaction {
    TransactionStep step = TransactionStep::Idle;
    // The Cc and Bcc addresses of the current message: sent one by one, and answered.
    std::size_t copiesSent = 0;
    std::size_t copiesAnswered = 0;
    int retries = 0; // RSET or DATA again for the current message

    bool pipelined() const {
        return step == TransactionStep::PipelinedEnvelope ||
               step == TransactionStep::EnvelopeBehindMark;
    }
};

} // namespace tandrel
