// SPDX-License-Identifier: GPL-3.0-or-later
// The opening of an SMTP session, as a state machine of its own: from the greeting to
// the point where the first MAIL FROM may go (DialogueOpening.cpp makes the moves).
//
//   step            event                                  next step
//   --------------  -------------------------------------  ---------------------------------
//   Greeting        220 greeting, EHLO wanted              Ehlo (EHLO sent)
//   Greeting        220 greeting                           Helo (HELO sent)
//   Helo            2xx (or a warning that lets it go on)  Ready
//   Helo            500/501/503                            Ready, after RSET (transaction)
//   Ehlo            refused, nothing asks for it           Helo (HELO sent)
//   Ehlo            2xx, STARTTLS wanted, not yet on       StartTls (STARTTLS sent)
//   Ehlo            2xx, a login wanted                    a login step (below)
//   Ehlo            2xx                                    Ready
//   StartTls        220                                    Handshake
//   Handshake       handshake done                         Ehlo (EHLO sent again)
//   LoginUser       334 (AUTH LOGIN's first challenge)     LoginPassword (user name sent)
//   LoginPassword   334                                    LoginSent (password sent)
//   LoginSent       2xx (AUTH PLAIN, or the password)      Ready
//   BearerPrompt    334 (empty challenge)                  BearerToken (token sent)
//   BearerToken     2xx                                    Ready
//   BearerToken     334 (the server's error)               BearerErrorAnswered (answer sent)
//   BearerToken,    refused, a renewal may be asked        TokenRenewal (renewToken asked)
//   BearerErrorAnswered
//   TokenRenewal    a fresh token                          BearerPrompt or BearerToken
//   TokenRenewal    no token, or the same one              the run ends: login refused
//   any             refused as the command table says      the run ends
//
// A time-out, a lost connection or cancel() ends the run from any step. The wait for a
// fresh token has no time-out of the dialogue's: the sign-in that makes it has its own,
// and answers "" when that runs out.
#pragma once

#include <string>

#include "smtp/SmtpExtensions.h"

namespace tandrel {

enum class OpeningStep {
    Greeting,            // connected: the server's greeting is awaited
    Helo,                // HELO sent
    Ehlo,                // EHLO sent (again after the handshake of STARTTLS)
    StartTls,            // STARTTLS sent
    Handshake,           // the TLS handshake of STARTTLS is under way
    LoginUser,           // AUTH LOGIN sent: the challenge for the user name is awaited
    LoginPassword,       // the user name sent: the challenge for the password is awaited
    LoginSent,           // AUTH PLAIN, or AUTH LOGIN's password, sent: the verdict is awaited
    BearerPrompt,        // AUTH with the mechanism alone: its empty challenge is awaited
    BearerToken,         // the token sent: the verdict is awaited
    BearerErrorAnswered, // the server's error challenge answered: its refusal is awaited
    TokenRenewal,        // the token was refused: a fresh one is awaited from the caller
    Ready,               // the session is open: transactions may begin
};

struct Opening {
    OpeningStep step = OpeningStep::Greeting;
    EhloOffer offer;    // what the last EHLO brought
    BearerLogin bearer; // the bearer-token login under way
    // The refusal that made the dialogue ask for a fresh token: it stands when none comes.
    std::string refusedToken;
    // Counts the questions for a fresh token: an answer to an older one is not taken.
    unsigned tokenQuestion = 0;

    // A new connection opens from the greeting on, with no extension known.
    void restart() {
        step = OpeningStep::Greeting;
        offer = EhloOffer();
        bearer = BearerLogin();
        refusedToken.clear();
    }
};

} // namespace tandrel
