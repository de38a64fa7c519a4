// Finds what would go wrong in a mailing before it is prepared.
#include "SendCheck.h"

#include <algorithm>
#include <map>
#include <set>
#include <string_view>
#include <unordered_map>

#include "Address.h"
#include "Compose.h"
#include "Encoding.h"
#include "Fallback.h"
#include "Formatted.h"
#include "MailFile.h"
#include "Mime.h"

namespace tandrel {

namespace {

constexpr std::size_t kShown = 20; // per kind, about a screenful

// Collects one kind of problem, keeping the first few and counting the rest.
class Kind {
public:
    Kind(CheckSeverity severity, std::string moreText)
        : severity_(severity), moreText_(std::move(moreText)) {}
    void add(std::string text) {
        if (++count_ <= kShown) texts_.push_back(std::move(text));
    }
    void flushInto(std::vector<SendProblem>& out) const {
        for (const std::string& t : texts_)
            out.push_back({severity_, t});
        if (count_ > kShown)
            out.push_back(
                {severity_, "... and " + std::to_string(count_ - kShown) + " more " + moreText_});
    }

private:
    CheckSeverity severity_;
    std::string moreText_;
    std::vector<std::string> texts_;
    std::size_t count_ = 0;
};

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}

std::string Who(const ReceipData& e, std::size_t position) {
    return e.name().empty() ? "The person at place " + std::to_string(position + 1) : OneLine(e.name());
}

bool IsNumber(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Where each unknown placeholder occurs, in order of first appearance.
class Placeholders {
public:
    explicit Placeholders(const std::vector<VarIdent>& fields) {
        known_.insert("name");
        known_.insert("email");
        for (const VarIdent& f : fields)
            known_.insert(f.name);
    }

    // In Markdown, "[text](...)" and "[text][...]" are links, not placeholders.
    void scan(std::string_view text, const std::string& where, bool markdown = false) {
        for (std::size_t open = text.find('['); open != std::string_view::npos;
             open = text.find('[', open + 1)) {
            const std::size_t close = text.find_first_of("[]\r\n", open + 1);
            if (close == std::string_view::npos || text[close] != ']') continue;
            if (markdown && close + 1 < text.size() &&
                (text[close + 1] == '(' || text[close + 1] == '['))
                continue;
            const std::string_view word = text.substr(open + 1, close - open - 1);
            // "[field|text]" names its field before the bar.
            const std::string_view field = word.substr(0, word.find('|'));
            // Longer bracketed text is prose and "[1]" a footnote, not a mistyped field.
            if (field.empty() || field.size() > 40 || IsNumber(field) ||
                known_.count(std::string(field)))
                continue;
            auto [it, fresh] = where_.try_emplace(std::string(word));
            if (fresh) order_.push_back(it->first);
            if (std::find(it->second.begin(), it->second.end(), where) == it->second.end())
                it->second.push_back(where);
        }
    }

    void report(Kind& kind) const {
        for (const std::string& word : order_) {
            std::string places;
            for (const std::string& w : where_.at(word))
                places += (places.empty() ? "" : ", ") + w;
            std::string text = "[" + OneLine(word) + "] in the " + places + " names no field";
            const std::string field = word.substr(0, word.find('|'));
            for (const std::string& k : known_)
                if (Lower(k) == Lower(field)) text += " (did you mean [" + OneLine(k) + "]?)";
            kind.add(std::move(text));
        }
    }

private:
    std::set<std::string> known_;
    std::map<std::string, std::vector<std::string>> where_;
    std::vector<std::string> order_;
};

void ScanMail(const MailText& mail, Placeholders& ph) {
    std::size_t i = 0;
    if (mail.MailHasHeader) {
        for (; i < mail.lines.size() && !mail.lines[i].empty(); ++i) {
            const std::string& l = mail.lines[i];
            const char* where = HeaderNameIs(l, "from")       ? "From"
                                : HeaderNameIs(l, "to")       ? "To"
                                : HeaderNameIs(l, "subject")  ? "Subject"
                                : HeaderNameIs(l, "cc")       ? "Cc"
                                : HeaderNameIs(l, "bcc")      ? "Bcc"
                                : HeaderNameIs(l, "reply-to") ? "Reply-To"
                                                              : "header";
            ph.scan(l, where);
        }
        ++i;
    }
    const bool markdown = FormatOfMail(mail) == MailFormat::Markdown;
    for (; i < mail.lines.size(); ++i)
        ph.scan(mail.lines[i], "body", markdown);
}

// The Cc, Bcc and Reply-To lines of the mail's header block.
std::vector<std::string> CopyAndReplyLines(const MailText& mail) {
    std::vector<std::string> lines;
    if (!mail.MailHasHeader) return lines;
    for (const std::string& l : mail.lines) {
        if (l.empty()) break;
        if (HeaderNameIs(l, "cc") || HeaderNameIs(l, "bcc") || HeaderNameIs(l, "reply-to"))
            lines.push_back(l);
    }
    return lines;
}

// The inline images of a Markdown mail that cannot be read.
void CheckImages(const AppState& st, Kind& files) {
    if (FormatOfMail(st.mailText) != MailFormat::Markdown) return;
    const auto& lines = st.mailText.lines;
    const auto end = std::find(lines.begin(), lines.end(), std::string());
    if (end == lines.end()) return;
    const std::string body = JoinLines(std::vector<std::string>(end + 1, lines.end()));
    for (const std::string& path : InlineImagePaths(body, MailFolder(st.user.lastmail))) {
        const std::string problem = AttachmentProblem(path);
        if (!problem.empty()) files.add("The image file " + OneLine(path) + " " + problem);
    }
}

// The two ports whose encryption is fixed by custom, set the other way: a server on 465
// waits in silence for a handshake the plain dialogue never starts, one on 587 greets in
// plain text where a handshake is expected. Unknown security words are stopped elsewhere.
void CheckPortSecurity(const GlobalPrefs& prefs, std::vector<SendProblem>& out) {
    std::string_view port = prefs.port;
    while (!port.empty() && port.front() == ' ')
        port.remove_prefix(1);
    while (!port.empty() && port.back() == ' ')
        port.remove_suffix(1);
    if (port == "465" && (prefs.security == "none" || prefs.security == "starttls"))
        out.push_back({CheckSeverity::Warning,
                       "Port 465 expects encryption from the first byte, but the encryption is " +
                           std::string(prefs.security == "none" ? "None" : "STARTTLS") +
                           ": the server will not answer; choose SSL/TLS (security=tls)"});
    if (port == "587" && prefs.security == "tls")
        out.push_back({CheckSeverity::Warning,
                       "Port 587 expects STARTTLS, but the encryption is SSL/TLS: the connection "
                       "will fail; choose STARTTLS (security=starttls)"});
}

} // namespace

std::vector<SendProblem> CheckBeforeSending(const AppState& st,
                                            const std::vector<ReceipData*>& recipients) {
    static const std::vector<VarIdent> noFields;
    const std::vector<VarIdent>& fields = st.db ? st.db->fields : noFields;

    Kind unknownFields(CheckSeverity::Warning, "placeholders that name no field");
    Placeholders ph(fields);
    ScanMail(st.mailText, ph);
    for (const Attachment& a : st.attachments)
        ph.scan(a.path, "attachment " + OneLine(a.fileName));
    ph.report(unknownFields);

    Kind noAddress(CheckSeverity::Warning, "people without a valid e-mail address");
    Kind repeated(CheckSeverity::Warning, "addresses used more than once");
    Kind files(CheckSeverity::Blocking, "attachment files that cannot be read");
    Kind outOfFolder(CheckSeverity::Blocking, "values that lead out of an attachment folder");
    Kind tooLarge(CheckSeverity::Blocking, "people whose merged mail grows too large");
    const std::string mailText = JoinLines(st.mailText.lines);
    const FieldIndex index(fields);
    Kind copyAddresses(CheckSeverity::Warning, "Cc, Bcc or Reply-To addresses that are not valid");
    const std::vector<std::string> copyLines = CopyAndReplyLines(st.mailText);
    // A line the values can change is checked for each person, any other once.
    auto checkCopyLine = [&](const std::string& line, const ReceipData* e, std::size_t i) {
        std::string value = line.substr(line.find(':') + 1);
        if (e) MergePlaceholders(index, *e, value);
        for (const std::string& address : AddressesOf(OneLine(value)))
            if (!IsValidAddress(address))
                copyAddresses.add((e ? Who(*e, i) + ": the " : std::string("The ")) +
                                  line.substr(0, line.find(':')) + " address \"" +
                                  OneLine(address) + "\" is not valid");
    };
    for (const std::string& line : copyLines)
        if (line.find('[') == std::string::npos) checkCopyLine(line, nullptr, 0);
    CheckImages(st, files);
    std::unordered_map<std::string, std::vector<std::size_t>> byAddress;
    std::vector<std::string> addressOrder;
    std::unordered_map<std::string, std::string> fileProblems;
    for (std::size_t i = 0; i < recipients.size(); ++i) {
        const ReceipData* e = recipients[i];
        if (!e) continue;
        if (e->email().empty()) {
            noAddress.add(Who(*e, i) + " has no e-mail address");
        } else if (!IsValidAddress(e->email())) {
            noAddress.add(Who(*e, i) + " has the e-mail address \"" + OneLine(e->email()) +
                          "\", which is not valid");
        } else {
            auto [it, fresh] = byAddress.try_emplace(Lower(e->email()));
            if (fresh) addressOrder.push_back(it->first);
            it->second.push_back(i);
        }
        if (std::string why = MergeGrowthProblem(index, *e, mailText); !why.empty()) {
            tooLarge.add(std::move(why));
            continue; // its attachment paths would grow the same way
        }
        for (const std::string& line : copyLines)
            if (line.find('[') != std::string::npos) checkCopyLine(line, e, i);
        for (const Attachment& a : st.attachments) {
            PersonalPath personal;
            try {
                personal = AttachmentPathOf(a.path, index, *e);
            } catch (const ComposeError& error) {
                tooLarge.add(error.what());
                continue;
            }
            if (!personal.problem.empty()) {
                outOfFolder.add(Who(*e, i) + ": " + personal.problem);
                continue;
            }
            const std::string& path = personal.path;
            auto it = fileProblems.find(path);
            if (it == fileProblems.end()) {
                it = fileProblems.emplace(path, AttachmentProblem(path)).first;
                // A shared file is reported once, not once per person.
                if (!it->second.empty() && path == a.path)
                    files.add("The attachment file " + OneLine(path) + " " + it->second);
            }
            if (!it->second.empty() && path != a.path)
                files.add(Who(*e, i) + ": the attachment file " + OneLine(path) + " " + it->second);
        }
    }
    for (const std::string& address : addressOrder) {
        const std::vector<std::size_t>& who = byAddress[address];
        if (who.size() < 2) continue;
        std::string names;
        for (std::size_t k = 0; k < who.size() && k < 5; ++k)
            names += (k ? ", " : "") + Who(*recipients[who[k]], who[k]);
        if (who.size() > 5) names += ", ...";
        repeated.add("The address " + OneLine(recipients[who[0]]->email()) + " is used by " +
                     std::to_string(who.size()) + " people: " + names);
    }

    std::vector<SendProblem> out;
    CheckPortSecurity(st.prefs, out);
    tooLarge.flushInto(out);
    outOfFolder.flushInto(out);
    files.flushInto(out);
    unknownFields.flushInto(out);
    noAddress.flushInto(out);
    copyAddresses.flushInto(out);
    repeated.flushInto(out);
    return out;
}

bool HasBlockingProblem(const std::vector<SendProblem>& problems) {
    return std::any_of(problems.begin(), problems.end(),
                       [](const SendProblem& p) { return p.severity == CheckSeverity::Blocking; });
}

} // namespace tandrel
