// SPDX-License-Identifier: GPL-3.0-or-later
// The preparation gauge: integer steps per message, attachment and base64 line.
#include "merge/Gauge.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <utility>

namespace tandrel {

namespace {

// a * b, or nothing when the product does not fit in 64 bits.
std::optional<std::uint64_t> TimesInRange(std::uint64_t a, std::uint64_t b) {
    if (a != 0 && b > std::numeric_limits<std::uint64_t>::max() / a) return std::nullopt;
    return a * b;
}

} // namespace

PrepGauge::PrepGauge(GaugeFn report, std::size_t recipientCount, std::size_t attachmentCount)
    : report_(std::move(report)), recipients_(std::max<std::uint64_t>(recipientCount, 1)),
      attachments_(std::max<std::uint64_t>(attachmentCount, 1)) {}

void PrepGauge::set(long long v) {
    const int clamped = static_cast<int>(std::clamp<long long>(v, 0, 100));
    // The step formulas round independently and can fall back (14 28 42 28 for small
    // files); a bar that shrinks looks like lost work, so it only ever grows.
    if (clamped <= value_) return;
    value_ = clamped;
    if (report_) report_(value_);
}

void PrepGauge::messageDone(std::size_t i) {
    set(static_cast<long long>(static_cast<std::uint64_t>(i) * 100 / recipients_));
}

void PrepGauge::beginAttachments() {
    messageBase_ = value_;
}

void PrepGauge::attachmentDone(std::size_t k) {
    const std::uint64_t share = static_cast<std::uint64_t>(k) * 100 / attachments_ / recipients_;
    set(static_cast<long long>(std::min<std::uint64_t>(share, 1000)) + messageBase_);
}

void PrepGauge::beginBase64(std::uint64_t fileSize) {
    base64Base_ = value_;
    unit_ = fileSize / 56;
    linesDone_ = 0;
}

void PrepGauge::base64LinesDone(std::uint64_t j) {
    if (unit_ == 0) return;
    // (line * 100 / U) / D equals line * 100 / (U * D) in integer division, and it
    // only grows with the line number, so the lines in between that keep the same
    // value are skipped in one step. A product too big for 64 bits is beyond any line
    // of a file: the value stays where it is for the rest of the lines.
    const std::optional<std::uint64_t> perValue = TimesInRange(recipients_, attachments_); // D
    while (linesDone_ < j) {
        const std::uint64_t line = linesDone_ + 1;
        // line * 100 / U without forming line * 100; the remainder's hundredfold fits, U
        // being a file size (below 2^63) / 56.
        const std::uint64_t percentOfUnit = line / unit_ * 100 + line % unit_ * 100 / unit_;
        const std::uint64_t q = perValue ? percentOfUnit / *perValue : 0;
        set(static_cast<long long>(std::min<std::uint64_t>(q, 1000)) + base64Base_);
        // The first line whose value exceeds q is ceil((q + 1) * D * U / 100).
        std::optional<std::uint64_t> bound;
        if (perValue) bound = TimesInRange(q + 1, *perValue);
        if (bound) bound = TimesInRange(*bound, unit_);
        if (!bound) {
            linesDone_ = j;
            break;
        }
        const std::uint64_t nextUp = *bound / 100 + (*bound % 100 != 0 ? 1 : 0);
        linesDone_ = std::min(j, nextUp - 1);
    }
}

} // namespace tandrel
