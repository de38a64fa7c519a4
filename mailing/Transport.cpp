// SPDX-License-Identifier: GPL-3.0-or-later
// The dry-run folder as a transport; the SMTP transport lives beside DeliveryRun.
#include "mailing/Transport.h"

#include <memory>
#include <string>
#include <utility>

#include "mailing/DryRun.h"

namespace tandrel {

namespace {

// The folder of .eml files: written at once, the gauge following.
class DryRunTransport : public Transport {
public:
    explicit DryRunTransport(std::string dir) : dir_(std::move(dir)) {}

    void start(TransportJob job) override {
        MailingObserver& listener = *job.listener;
        result_ = WriteDryRun(*job.messages, dir_,
                              [&listener](int percent) { listener.deliveryProgress(percent); });
        DeliverySummary summary;
        summary.messages = result_.written;
        listener.deliveryEnded(summary);
    }
    bool cancel(const std::string&) override { return true; }
    bool running() const override { return false; }
    int acceptedCount() const override { return 0; }
    DryRunResult dryRunResult() const override { return result_; }

private:
    std::string dir_;
    DryRunResult result_;
};

} // namespace

std::unique_ptr<Transport> MakeDryRunTransport(std::string dir) {
    return std::make_unique<DryRunTransport>(std::move(dir));
}

} // namespace tandrel
