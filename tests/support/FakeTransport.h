// SPDX-License-Identifier: GPL-3.0-or-later
// A transport for the mailing run's own tests: keeps every message it is given, accepts
// or refuses each by its address, one message per turn of the event loop (so that a run
// can be cancelled in the middle), and tells the run as the relay's transport does.
#pragma once

#include <QTimer>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "mailing/Transport.h"
#include "tests/support/WireText.h"

namespace tandrel::test {

struct FakeTransportLog {
    std::vector<std::string> addresses;       // every message handed over, in order
    std::map<std::string, std::string> texts; // address -> the message as the wire has it
    bool started = false;
    bool cancelled = false;
};

class FakeTransport : public Transport {
public:
    // `log` outlives the run; `refused` are the addresses the "server" refuses.
    FakeTransport(FakeTransportLog& log, std::set<std::string> refused)
        : log_(log), refused_(std::move(refused)) {
        step_.setInterval(0);
        QObject::connect(&step_, &QTimer::timeout, [this] { next(); });
    }

    void start(TransportJob job) override {
        job_ = std::move(job);
        log_.started = true;
        running_ = true;
        step_.start();
    }
    bool cancel(const std::string&) override {
        if (!running_) return true;
        log_.cancelled = true;
        step_.stop();
        running_ = false;
        for (; at_ < job_.messages->count(); ++at_)
            job_.listener->messageOutcome(at_, MessageOutcome::NotAttempted, nullptr);
        return true;
    }
    bool running() const override { return running_; }
    int acceptedCount() const override { return accepted_; }
    bool errorsOccurred() const override { return errors_; }

private:
    void next() {
        MessageSource& messages = *job_.messages;
        if (at_ == messages.count()) {
            step_.stop();
            running_ = false;
            DeliverySummary summary;
            summary.accepted = accepted_;
            summary.messages = messages.count();
            summary.errorsOccurred = errors_;
            job_.listener->deliveryEnded(summary);
            return;
        }
        const std::size_t i = at_++;
        const std::string address = messages.address(i);
        log_.addresses.push_back(address);
        log_.texts[address] = WireText(messages.message(i).lines);
        messages.release(i);
        DeliveryEvent event;
        event.address = address;
        if (refused_.count(address)) {
            errors_ = true;
            event.kind = DeliveryEvent::Kind::Problem;
            event.problem = DeliveryProblem::RecipientRefused;
            job_.listener->deliveryEvent(event);
            job_.listener->messageOutcome(i, MessageOutcome::Refused, nullptr);
        } else {
            ++accepted_;
            job_.accepted->push_back(address);
            event.kind = DeliveryEvent::Kind::Accepted;
            job_.listener->deliveryEvent(event);
            job_.listener->messageOutcome(i, MessageOutcome::Accepted, nullptr);
        }
        job_.listener->deliveryProgress(static_cast<int>(at_ * 100 / messages.count()));
    }

    FakeTransportLog& log_;
    std::set<std::string> refused_;
    TransportJob job_;
    QTimer step_;
    std::size_t at_ = 0;
    int accepted_ = 0;
    bool errors_ = false;
    bool running_ = false;
};

} // namespace tandrel::test
