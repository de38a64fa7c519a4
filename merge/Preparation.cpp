// SPDX-License-Identifier: GPL-3.0-or-later
// Preparation of a mailing run: every message checked before any is sent, and composed
// again when a connection takes it.
#include "merge/Preparation.h"

#include <exception>
#include <unordered_map>
#include <utility>

#include "merge/Compose.h"
#include "merge/Formatted.h"
#include "merge/Mime.h"

namespace tandrel {

namespace {

// Every attachment of every recipient is looked at before anything is encoded, so a
// run with a missing per-person file stops with one list of all of them.
void CheckAttachments(const std::vector<Field>& fields, const std::vector<Attachment>& atts,
                      const std::vector<Person*>& recipients) {
    constexpr std::size_t kShown = 20; // about a screenful
    std::unordered_map<std::string, std::string> seen;
    std::vector<std::string> problems;
    std::size_t total = 0;
    const FieldIndex index(fields);
    for (const Person* entry : recipients) {
        if (!entry) continue;
        for (const Attachment& a : atts) {
            const std::string path = AttachmentPathFor(a.path, index, *entry);
            auto it = seen.find(path);
            if (it == seen.end()) it = seen.emplace(path, AttachmentProblem(path)).first;
            if (it->second.empty()) continue;
            if (++total <= kShown)
                problems.push_back(entry->name() + ": " + OneLine(path) + " (" + it->second + ")");
        }
    }
    if (problems.empty()) return;
    std::string text = "Nothing was sent: these attachment files cannot be read.";
    for (const std::string& p : problems)
        text += "\n" + p;
    if (total > kShown) text += "\n... and " + std::to_string(total - kShown) + " more";
    throw ComposeError(text);
}

} // namespace

// What composing needs, owned by the run: the field list, the attachments and the
// template, so the editors may change while it is sent.
class PreparedMailing::Composition {
public:
    explicit Composition(const AppState& st)
        : hasHeader_(st.mailText.hasHeader),
          fields_(st.db ? st.db->fields : std::vector<Field>()), attachments_(st.attachments),
          composer_(fields_, st.mailText, DomainOfAddress(st.prefs.fromAddress),
                    MailFolder(st.user.lastMail)),
          parts_(fields_, attachments_) {}

    bool hasHeader() const { return hasHeader_; }
    const std::vector<Field>& fields() const { return fields_; }
    const std::vector<Attachment>& attachments() const { return attachments_; }

    OutgoingMessage compose(const Person& entry, PrepGauge* gauge) {
        OutgoingMessage node;
        node.lines = parts_.compose(
            composer_.compose(entry, !attachments_.empty(), &node.copyRecipients), entry, gauge);
        node.address = entry.email();
        return node;
    }

private:
    bool hasHeader_;
    std::vector<Field> fields_;
    std::vector<Attachment> attachments_;
    MessageComposer composer_;
    AttachmentSet parts_;
};

PreparedMailing::PreparedMailing(const AppState& st,
                                 std::shared_ptr<const RecipientList> recipients,
                                 std::string testMailTo)
    : recipients_(std::move(recipients)), testMailTo_(std::move(testMailTo)),
      composition_(std::make_unique<Composition>(st)) {}

PreparedMailing::~PreparedMailing() = default;

const std::string& PreparedMailing::address(std::size_t i) const {
    return testMailTo_.empty() ? (*recipients_)[i]->email() : testMailTo_;
}

OutgoingMessage PreparedMailing::compose(std::size_t i, PrepGauge* gauge) {
    const Person* entry = (*recipients_)[i];
    if (!entry) throw ComposeError("A recipient has no database entry");
    OutgoingMessage node = composition_->compose(*entry, gauge);
    if (!testMailTo_.empty()) {
        // The header shows whom the person's message is for; the envelope alone says
        // where this one goes.
        node.address = testMailTo_;
        node.copyRecipients.clear();
    }
    return node;
}

const OutgoingMessage& PreparedMailing::message(std::size_t i) {
    auto it = held_.find(i);
    if (it != held_.end()) return it->second;
    OutgoingMessage node;
    try {
        node = compose(i, nullptr);
    } catch (const std::exception& e) {
        // Every message was composed once by the preparation: only a file that changed
        // since then stops one now (unreadable, or grown past a limit), and the run goes
        // on with the others.
        node = OutgoingMessage{};
        node.address = address(i);
        node.unfit = e.what();
    }
    return held_.emplace(i, std::move(node)).first->second;
}

void PreparedMailing::composeAll(const GaugeFn& gauge,
                                 const std::function<void(OutgoingMessage&&)>& keep) {
    if (recipients_->empty()) return;
    if (!composition_->attachments().empty() && !composition_->hasHeader())
        throw ComposeError("The mail has no header block, so it cannot carry attachments");
    CheckAttachments(composition_->fields(), composition_->attachments(), *recipients_);
    PrepGauge g(gauge, recipients_->size(), composition_->attachments().size());
    for (std::size_t i = 0; i < recipients_->size(); ++i) {
        OutgoingMessage node = compose(i, &g);
        wireBytes_ += node.lines.textBytes() + 2 * static_cast<std::uint64_t>(node.lines.size());
        keep(std::move(node));
        g.messageDone(i + 1);
    }
}

std::shared_ptr<PreparedMailing> PrepareMailing(const AppState& st,
                                                std::shared_ptr<const RecipientList> recipients,
                                                const GaugeFn& gauge, std::string testMailTo) {
    std::shared_ptr<PreparedMailing> run(
        new PreparedMailing(st, std::move(recipients), std::move(testMailTo)));
    run->composeAll(gauge, [](OutgoingMessage&&) {});
    return run;
}

OutgoingList PrepareAllMails(const AppState& st, const std::vector<Person*>& recipients,
                             const GaugeFn& gauge) {
    PreparedMailing run(st, std::make_shared<const RecipientList>(recipients), {});
    OutgoingList messages;
    messages.reserve(recipients.size());
    run.composeAll(gauge, [&messages](OutgoingMessage&& node) { messages.push_back(std::move(node)); });
    return messages;
}

} // namespace tandrel
