// SPDX-License-Identifier: GPL-3.0-or-later
// The preparation gauge of a mailing run: its value, the steps within one message,
// and a report whenever the value changes (a repaint per change, not per step).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace tandrel {

// Called with the preparation gauge value (0..100) whenever it changes.
using GaugeFn = std::function<void(int)>;

class PrepGauge {
public:
    // The gauge starts at 0 (the window shows 0 before preparation begins).
    PrepGauge(GaugeFn report, std::size_t recipientCount, std::size_t attachmentCount);

    int value() const { return value_; }
    // Clamped to 0..100, like the bar itself; a value below the current one is ignored,
    // and a new value is reported.
    void set(long long v);

    // After message i (from 1): i * 100 / RecipientCount.
    void messageDone(std::size_t i);
    // The attachment parts of a message begin; the per-attachment steps count from here.
    void beginAttachments();
    // After attachment k (from 1) of the message:
    // (k * 100 / AttachmentCount) / RecipientCount + value at beginAttachments.
    void attachmentDone(std::size_t k);
    // The base64 lines of an attachment of fileSize bytes begin.
    void beginBase64(std::uint64_t fileSize);
    // Lines 1..j of that attachment are done: the gauge takes, in order, every value
    // of (line * 100 / U) / (RecipientCount * AttachmentCount) + value at beginBase64
    // for those lines, U being fileSize / 56. A file under 56 bytes (U = 0) has no
    // per-line steps; it moves with its attachment step only.
    void base64LinesDone(std::uint64_t j);

private:
    GaugeFn report_;
    std::uint64_t recipients_;
    std::uint64_t attachments_;
    int value_ = 0;
    int messageBase_ = 0;
    int base64Base_ = 0;
    std::uint64_t unit_ = 0; // U
    std::uint64_t linesDone_ = 0;
};

} // namespace tandrel
