// Preparation of a mailing run: every message built in memory before any is sent.
#include "Preparation.h"

#include <unordered_map>

#include "Compose.h"
#include "Formatted.h"
#include "Mime.h"

namespace tandrel {

namespace {

// Every attachment of every recipient is looked at before anything is encoded, so a
// run with a missing per-person file stops with one list of all of them.
void CheckAttachments(const std::vector<VarIdent>& fields, const std::vector<Attachment>& atts,
                      const std::vector<ReceipData*>& recipients) {
    constexpr std::size_t kShown = 20; // about a screenful
    std::unordered_map<std::string, std::string> seen;
    std::vector<std::string> problems;
    std::size_t total = 0;
    const FieldIndex index(fields);
    for (const ReceipData* entry : recipients) {
        if (!entry) continue;
        for (const Attachment& a : atts) {
            const std::string path = AttachmentPathFor(a.path, index, *entry);
            auto it = seen.find(path);
            if (it == seen.end()) it = seen.emplace(path, AttachmentProblem(path)).first;
            if (it->second.empty()) continue;
            if (++total <= kShown)
                problems.push_back(entry->name + ": " + OneLine(path) + " (" + it->second + ")");
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

void PrepareAllMails(AppState& st, const std::vector<ReceipData*>& recipients,
                     const GaugeFn& gauge) {
    OutgoingList().swap(st.outgoing);
    st.RecipientCount = static_cast<int>(recipients.size());
    if (recipients.empty()) return;
    try {
        if (!st.attachments.empty() && !st.mailText.MailHasHeader)
            throw ComposeError("The mail has no header block, so it cannot carry attachments");
        static const std::vector<VarIdent> noFields;
        const std::vector<VarIdent>& fields = st.db ? st.db->fields : noFields;
        CheckAttachments(fields, st.attachments, recipients);
        std::string host = DomainOfAddress(st.prefs.fromaddy);
        MessageComposer composer(fields, st.mailText, std::move(host),
                                 MailFolder(st.user.lastmail));
        PrepGauge g(gauge, recipients.size(), st.attachments.size());
        AttachmentSet parts(fields, st.attachments);
        st.outgoing.reserve(recipients.size());
        for (std::size_t i = 0; i < recipients.size(); ++i) {
            const ReceipData* entry = recipients[i];
            if (!entry) throw ComposeError("A recipient has no database entry");
            MailNode node;
            node.lines = parts.Compose(
                composer.compose(*entry, !st.attachments.empty(), &node.copyRecipients), *entry,
                &g);
            node.address = entry->email;
            st.outgoing.push_back(std::move(node));
            g.messageDone(i + 1);
        }
    } catch (...) {
        OutgoingList().swap(st.outgoing);
        st.RecipientCount = 0;
        throw;
    }
}

} // namespace tandrel
