// SPDX-License-Identifier: GPL-3.0-or-later
// The messages of a run as a delivery reads them: by number, each one released as soon
// as its outcome is known. A big run then need not hold every message at once: a source
// may compose a message only when a connection takes it.
#pragma once

#include <cstddef>
#include <string>
#include <utility>

#include "model/Model.h"

namespace tandrel {

class MessageSource {
public:
    virtual ~MessageSource() = default;

    virtual std::size_t count() const = 0;
    // Where message i goes, known without making the message.
    virtual const std::string& address(std::size_t i) const = 0;
    // Message i, whole; the reference holds until release(i). A message that can no
    // longer be made says why in its `unfit`.
    virtual const OutgoingMessage& message(std::size_t i) = 0;
    // Its outcome is known: it is not asked for again (a given-back message, which
    // another connection will send, is not released).
    virtual void release(std::size_t i) = 0;
};

// Messages made beforehand, all held in memory.
class ListedMessages final : public MessageSource {
public:
    explicit ListedMessages(OutgoingList messages) : messages_(std::move(messages)) {}

    std::size_t count() const override { return messages_.size(); }
    const std::string& address(std::size_t i) const override { return messages_[i].address; }
    const OutgoingMessage& message(std::size_t i) override { return messages_[i]; }
    void release(std::size_t i) override { messages_[i].lines = MessageLines(); }

private:
    OutgoingList messages_;
};

} // namespace tandrel
