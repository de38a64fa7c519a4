// SPDX-License-Identifier: GPL-3.0-or-later
// The preparation gauge: integer steps per message, attachment and base64 line.
#include "merge/Gauge.h"

#include <algorithm>
#include <utility>

namespace tandrel {

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
    using Wide = unsigned __int128;
    // (line * 100 / U) / D equals line * 100 / (U * D) in integer division, and it
    // only grows with the line number, so the lines in between that keep the same
    // value are skipped in one step.
    const Wide ud = static_cast<Wide>(unit_) * recipients_ * attachments_;
    while (linesDone_ < j) {
        const Wide line = static_cast<Wide>(linesDone_) + 1;
        const Wide q = line * 100 / ud;
        set(static_cast<long long>(std::min<Wide>(q, 1000)) + base64Base_);
        // The first line whose value exceeds q is ceil((q + 1) * ud / 100).
        const Wide nextUp = ((q + 1) * ud + 99) / 100;
        linesDone_ = static_cast<std::uint64_t>(std::min<Wide>(j, nextUp - 1));
    }
}

} // namespace tandrel
