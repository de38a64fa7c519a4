// SPDX-License-Identifier: GPL-3.0-or-later
// Preparation of a mailing run: every message checked and counted before any is sent,
// and composed again when its turn comes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "model/AppState.h"
#include "merge/Gauge.h"
#include "model/MessageSource.h"

namespace tandrel {

using RecipientList = std::vector<Person*>;

// The messages of a prepared run. Per person it keeps only the database entry; a
// message is composed when a connection asks for it and dropped once its outcome is
// known, so a run of a million people holds a few messages at a time. Composing the
// same person again gives the same message (Date and Message-ID aside); an attachment
// whose merged path is the same for several people is read and encoded once for the
// whole run. The database entries, which the run points into, must not change while it
// lasts.
class PreparedMailing final : public MessageSource {
public:
    ~PreparedMailing() override;
    PreparedMailing(const PreparedMailing&) = delete;
    PreparedMailing& operator=(const PreparedMailing&) = delete;

    std::size_t count() const override { return recipients_->size(); }
    const std::string& address(std::size_t i) const override;
    const OutgoingMessage& message(std::size_t i) override;
    void release(std::size_t i) override { held_.erase(i); }

    // Bytes of every message on the wire (line ends included, before dot-stuffing), as
    // the preparation counted them.
    std::uint64_t wireBytes() const { return wireBytes_; }
    // Messages composed and not yet released.
    std::size_t held() const { return held_.size(); }

private:
    class Composition;
    PreparedMailing(const AppState& st, std::shared_ptr<const RecipientList> recipients,
                    std::string testMailTo);
    OutgoingMessage compose(std::size_t i, PrepGauge* gauge);
    // The checks, then every message composed in order and handed to `keep`.
    void composeAll(const GaugeFn& gauge, const std::function<void(OutgoingMessage&&)>& keep);

    friend std::shared_ptr<PreparedMailing> PrepareMailing(const AppState&,
                                                           std::shared_ptr<const RecipientList>,
                                                           const GaugeFn&, std::string);
    friend OutgoingList PrepareAllMails(const AppState&, const std::vector<Person*>&,
                                        const GaugeFn&);

    std::shared_ptr<const RecipientList> recipients_; // shared with the run: a big list once
    std::string testMailTo_;
    std::unique_ptr<Composition> composition_;
    std::unordered_map<std::size_t, OutgoingMessage> held_;
    std::uint64_t wireBytes_ = 0;
};

// Checks a run: composes every message once for the given recipients, in order (merge
// errors, the growth limit, every attachment file read or counted), reporting the gauge
// (0..100) whenever its value changes, and keeps none of them. Each message goes to its
// own entry's e-mail address and the merged Cc and Bcc addresses. With `testMailTo` set
// (a test mail) it goes to that address alone: its header is still the one the person
// gets, Cc line included, but no copy is sent. Throws ComposeError.
std::shared_ptr<PreparedMailing> PrepareMailing(const AppState& st,
                                                std::shared_ptr<const RecipientList> recipients,
                                                const GaugeFn& gauge, std::string testMailTo = {});

// The same check, keeping every message: all of them composed at once, in order.
OutgoingList PrepareAllMails(const AppState& st, const std::vector<Person*>& recipients,
                             const GaugeFn& gauge);

} // namespace tandrel
