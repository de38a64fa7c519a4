#include "MailingRun.h"

#include "Compose.h"
#include "Mime.h"

namespace tandrel {

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
        const std::string joined = JoinLines(st.mailText.lines);
        PrepGauge g(gauge, recipients.size(), st.attachments.size());
        AttachmentSet parts(fields, st.attachments);
        st.outgoing.reserve(recipients.size());
        for (std::size_t i = 0; i < recipients.size(); ++i) {
            const ReceipData* entry = recipients[i];
            if (!entry) throw ComposeError("A recipient has no database entry");
            MailNode node;
            node.lines = parts.Compose(ComposeMessageFromText(fields, joined, *entry), *entry, &g);
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
