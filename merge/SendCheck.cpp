// SPDX-License-Identifier: GPL-3.0-or-later
// Finds what would go wrong in a mailing before it is prepared.
#include "merge/SendCheck.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string_view>
#include <unordered_map>

#include "merge/Address.h"
#include "merge/Compose.h"
#include "merge/Encoding.h"
#include "merge/Fallback.h"
#include "merge/FieldSuggestion.h"
#include "merge/Formatted.h"
#include "model/MailFile.h"
#include "merge/Mime.h"

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

char AsciiLowerChar(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

// Addresses compared as the check counts them the same: ASCII letters without case.
bool AddressBefore(std::string_view a, std::string_view b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) {
                                            return AsciiLowerChar(x) < AsciiLowerChar(y);
                                        });
}

// The people who share an address with someone else, a group per address, each group in
// the order of the list and the groups in the order of each address's first use. Sorting
// positions instead of keeping a map of lowered addresses: a million people cost 8 MB
// here rather than a quarter of a gigabyte.
std::vector<std::vector<std::size_t>> SharedAddresses(const std::vector<Person*>& recipients,
                                                      std::vector<std::size_t> withAddress) {
    std::sort(withAddress.begin(), withAddress.end(), [&](std::size_t a, std::size_t b) {
        const std::string& x = recipients[a]->email();
        const std::string& y = recipients[b]->email();
        if (AddressBefore(x, y)) return true;
        if (AddressBefore(y, x)) return false;
        return a < b;
    });
    std::vector<std::vector<std::size_t>> groups;
    for (std::size_t from = 0; from < withAddress.size();) {
        std::size_t to = from + 1;
        const std::string& first = recipients[withAddress[from]]->email();
        while (to < withAddress.size() && !AddressBefore(first, recipients[withAddress[to]]->email()))
            ++to;
        if (to - from > 1)
            groups.emplace_back(withAddress.begin() + static_cast<std::ptrdiff_t>(from),
                                withAddress.begin() + static_cast<std::ptrdiff_t>(to));
        from = to;
    }
    std::sort(groups.begin(), groups.end(),
              [](const auto& a, const auto& b) { return a.front() < b.front(); });
    return groups;
}

std::string Who(const Person& e, std::size_t position) {
    return e.name().empty() ? "The person at place " + std::to_string(position + 1) : OneLine(e.name());
}

bool IsNumber(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Where each unknown placeholder occurs, in order of first appearance.
class Placeholders {
public:
    explicit Placeholders(const std::vector<Field>& fields) {
        for (const Field& f : fields)
            names_.push_back(f.name);
        for (const char* special : {"name", "email"})
            if (std::find(names_.begin(), names_.end(), special) == names_.end())
                names_.push_back(special);
        known_.insert(names_.begin(), names_.end());
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
            kind.add("[" + OneLine(word) + "] in the " + places + " names no field" +
                     FieldSuggestion(word.substr(0, word.find('|')), names_));
        }
    }

private:
    std::vector<std::string> names_; // the database's fields in order, then name and email
    std::set<std::string> known_;
    std::map<std::string, std::vector<std::string>> where_;
    std::vector<std::string> order_;
};

// How the problems name a line of the header block.
const char* HeaderPlace(const std::string& l) {
    return HeaderNameIs(l, "from")       ? "From"
           : HeaderNameIs(l, "to")       ? "To"
           : HeaderNameIs(l, "subject")  ? "Subject"
           : HeaderNameIs(l, "cc")       ? "Cc"
           : HeaderNameIs(l, "bcc")      ? "Bcc"
           : HeaderNameIs(l, "reply-to") ? "Reply-To"
                                         : "header";
}

void ScanMail(const MailText& mail, Placeholders& ph) {
    std::size_t i = 0;
    if (mail.hasHeader) {
        for (; i < mail.lines.size() && !mail.lines[i].empty(); ++i)
            ph.scan(mail.lines[i], HeaderPlace(mail.lines[i]));
        ++i;
    }
    const bool markdown = FormatOfMail(mail) == MailFormat::Markdown;
    for (; i < mail.lines.size(); ++i)
        ph.scan(mail.lines[i], "body", markdown);
}

// The inline images of a Markdown mail that cannot be read.
void CheckImages(const AppState& st, Kind& files) {
    if (FormatOfMail(st.mailText) != MailFormat::Markdown) return;
    const auto& lines = st.mailText.lines;
    const auto end = std::find(lines.begin(), lines.end(), std::string());
    if (end == lines.end()) return;
    const std::string body = JoinLines(std::vector<std::string>(end + 1, lines.end()));
    for (const std::string& path : InlineImagePaths(body, MailFolder(st.user.lastMail))) {
        const std::string problem = AttachmentProblem(path);
        if (!problem.empty()) files.add("The image file " + OneLine(path) + " " + problem);
    }
}

// The To, Cc, Bcc and Reply-To lines read as they are sent: each merged for the person
// by the composer itself, so a value quoted when sent is one address here too. Tells Cc,
// Bcc and Reply-To addresses that are not valid, and values that add addresses to a
// line, which may be meant as a list but may as well copy someone unseen.
class AddressLines {
public:
    AddressLines(const std::vector<Field>& fields, const MailText& mail)
        : composer_(fields, mail, std::string()),
          invalid_(CheckSeverity::Warning, "Cc, Bcc or Reply-To addresses that are not valid"),
          added_(CheckSeverity::Warning, "values that add addresses to an address line") {
        for (std::size_t k = 0; k < composer_.headerLineCount(); ++k) {
            const std::string& l = composer_.headerLine(k);
            const bool copy =
                HeaderNameIs(l, "cc") || HeaderNameIs(l, "bcc") || HeaderNameIs(l, "reply-to");
            if (!copy && !HeaderNameIs(l, "to")) continue;
            // A line the values cannot change is checked once.
            if (l.find('[') == std::string::npos) {
                if (copy) reportInvalid(l, AddressesOf(ValueOfLine(l)), nullptr, 0);
                continue;
            }
            lines_.push_back({copy, AddressesOf(ValueOfLine(l)).size()});
            numbers_.push_back(k);
        }
    }

    void check(const Person& e, std::size_t position) {
        if (lines_.empty()) return;
        try {
            composer_.mergeHeaderLines(e, numbers_, merged_);
        } catch (const ComposeError&) {
            return; // the growth of the merge is told on its own
        }
        for (std::size_t n = 0; n < lines_.size(); ++n) {
            const Line& line = lines_[n];
            const std::string& merged = merged_[n];
            const std::vector<std::string> addresses = AddressesOf(ValueOfLine(merged));
            if (line.copy) reportInvalid(merged, addresses, &e, position);
            const std::size_t count = addresses.size();
            if (count > line.written)
                added_.add(Who(e, position) + ": the values add addresses to the " +
                           NameOfLine(merged) + " line, which holds " + std::to_string(count) +
                           " where the mail writes " + std::to_string(line.written) + ": \"" +
                           OneLine(Trimmed(ValueOfLine(merged))) + "\"");
        }
    }

    void flushInto(std::vector<SendProblem>& out) const {
        invalid_.flushInto(out);
        added_.flushInto(out);
    }

private:
    struct Line {
        bool copy;           // Cc, Bcc or Reply-To: its addresses must be valid
        std::size_t written; // the addresses the line as written holds
    };

    static std::string_view ValueOfLine(std::string_view line) {
        return line.substr(line.find(':') + 1);
    }
    static std::string NameOfLine(std::string_view line) {
        return std::string(line.substr(0, line.find(':')));
    }
    static std::string_view Trimmed(std::string_view s) {
        const std::size_t first = s.find_first_not_of(" \t");
        if (first == std::string_view::npos) return {};
        return s.substr(first, s.find_last_not_of(" \t") - first + 1);
    }

    // e: the person the line was merged for, null for a line the values cannot change.
    void reportInvalid(const std::string& line, const std::vector<std::string>& addresses,
                       const Person* e, std::size_t position) {
        for (const std::string& address : addresses)
            if (!IsValidAddress(address))
                invalid_.add((e ? Who(*e, position) + ": the " : std::string("The ")) +
                             NameOfLine(line) + " address \"" + OneLine(address) +
                             "\" is not valid");
    }

    MessageComposer composer_;
    std::vector<Line> lines_;
    std::vector<std::size_t> numbers_; // of lines_ among the header lines
    std::vector<std::string> merged_;  // lines_ merged for one person
    Kind invalid_, added_;
};

// A "[field|" that is not read as a fallback keeps its brackets in every message; told
// once for each place, with what the first person gets.
void ReportBrokenFallbacks(const MailText& mail, const std::vector<Attachment>& attachments,
                           const FieldIndex& index, const std::vector<Person*>& recipients,
                           Kind& kind) {
    const auto first = std::find_if(recipients.begin(), recipients.end(),
                                    [](const Person* e) { return e != nullptr; });
    std::set<std::pair<std::string, std::string>> told;
    const auto scan = [&](std::string_view text, const std::string& where) {
        for (auto span = FindBrokenFallback(text, index); span;
             span = FindBrokenFallback(text, index, span->end)) {
            std::string written(text.substr(span->begin, span->end - span->begin));
            if (!told.emplace(written, where).second) continue;
            std::string report = OneLine(written) + " in the " + where +
                                 " is not read as a fallback, as its text holds a bracket or "
                                 "has no \"]\"";
            std::string merged = written;
            try {
                if (first != recipients.end()) {
                    MergePlaceholders(index, **first, merged);
                    report += ": " + Who(**first, first - recipients.begin()) + " gets \"" +
                              OneLine(merged) + "\"";
                }
            } catch (const ComposeError&) {
                // what such values do is told as the growth of the merge
            }
            kind.add(std::move(report));
        }
    };
    std::size_t i = 0;
    if (mail.hasHeader) {
        for (; i < mail.lines.size() && !mail.lines[i].empty(); ++i)
            scan(mail.lines[i], HeaderPlace(mail.lines[i]));
        ++i;
    }
    for (; i < mail.lines.size(); ++i)
        scan(mail.lines[i], "body");
    for (const Attachment& a : attachments)
        scan(a.path, "attachment " + OneLine(a.fileName));
}

// Files that values pick through an attachment path they choose whole ("[file]"), when
// they lie outside the folders of the mail and the database: such a value may name any
// file the user can read.
class FilesChosenByValues {
public:
    explicit FilesChosenByValues(const RecentFiles& user)
        : kind_(CheckSeverity::Warning,
                "files chosen by values outside the folders of the mail and the database") {
        for (const std::string* file : {&user.lastMail, &user.lastDatabase})
            if (!file->empty()) folders_.push_back(Resolved(MailFolder(*file)));
    }

    // `path`: the merged path of `pattern`, a file that can be read.
    void check(const std::string& pattern, const std::string& path, const Person& e,
               std::size_t position) {
        if (!ValuesChooseWholePath(pattern)) return;
        const std::filesystem::path file = Resolved(path);
        for (const std::filesystem::path& folder : folders_)
            if (std::mismatch(folder.begin(), folder.end(), file.begin(), file.end()).first ==
                folder.end())
                return;
        kind_.add(Who(e, position) + ": the attachment file " + OneLine(path) +
                  ", chosen by a value, lies outside the folders of the mail and the database");
    }

    void flushInto(std::vector<SendProblem>& out) const { kind_.flushInto(out); }

private:
    // Absolute, without "." and "..", links followed as far as they exist.
    static std::filesystem::path Resolved(const std::string& path) {
        std::error_code error;
        std::filesystem::path p = std::filesystem::absolute(path, error);
        std::filesystem::path real = std::filesystem::weakly_canonical(p, error);
        return error ? p.lexically_normal() : real;
    }

    std::vector<std::filesystem::path> folders_;
    Kind kind_;
};

// The body of a Markdown mail; "" for any other mail.
std::string MarkdownBodyOf(const MailText& mail) {
    if (FormatOfMail(mail) != MailFormat::Markdown) return std::string();
    const auto end = std::find(mail.lines.begin(), mail.lines.end(), std::string());
    if (end == mail.lines.end()) return std::string();
    return JoinLines(std::vector<std::string>(end + 1, mail.lines.end()));
}

// Image sources that could name another file than they show.
void CheckImageSources(const std::string& markdownBody, Kind& files) {
    for (const std::string& source : ImageSourcesWithControls(markdownBody))
        files.add("The image source \"" + OneLine(source) + "\" holds a control character");
}

// Links and images whose address a person's value makes with a scheme the HTML leaves out.
void CheckValueAddresses(const std::string& markdownBody, const FieldIndex& index,
                         const std::vector<Person*>& recipients, Kind& leftOut) {
    if (markdownBody.empty()) return;
    const bool anyPlace = ValuesMayMakeAddresses(index, markdownBody);
    const std::size_t fieldCount = index.fields().size();
    for (std::size_t i = 0; i < recipients.size(); ++i) {
        if (!recipients[i] || (!anyPlace && PairedFields(fieldCount, *recipients[i]) == fieldCount))
            continue;
        for (const LeftOutAddress& a : LeftOutAddresses(index, markdownBody, *recipients[i]))
            leftOut.add(Who(*recipients[i], i) + ": the address \"" + OneLine(a.address) +
                        "\" made with [" + OneLine(a.field) +
                        "] is left out; links keep only http, https and mailto addresses");
    }
}

// The two ports whose encryption is fixed by custom, set the other way: a server on 465
// waits in silence for a handshake the plain dialogue never starts, one on 587 greets in
// plain text where a handshake is expected. Unknown security words are stopped elsewhere.
void CheckPortSecurity(const Preferences& prefs, std::vector<SendProblem>& out) {
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
                                            const std::vector<Person*>& recipients) {
    static const std::vector<Field> noFields;
    const std::vector<Field>& fields = st.db ? st.db->fields : noFields;

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
    AddressLines addressLines(fields, st.mailText);
    Kind brokenFallbacks(CheckSeverity::Warning, "fallback placeholders that are not read as such");
    ReportBrokenFallbacks(st.mailText, st.attachments, index, recipients, brokenFallbacks);
    FilesChosenByValues chosenFiles(st.user);
    Kind hiddenParts(CheckSeverity::Blocking, "values that choose hidden files");
    CheckImages(st, files);
    const std::string markdownBody = MarkdownBodyOf(st.mailText);
    CheckImageSources(markdownBody, files);
    Kind leftOutAddresses(CheckSeverity::Warning, "addresses left out of links");
    CheckValueAddresses(markdownBody, index, recipients, leftOutAddresses);
    std::vector<std::size_t> withAddress; // positions of the people with a valid address
    std::unordered_map<std::string, std::string> fileProblems;
    for (std::size_t i = 0; i < recipients.size(); ++i) {
        const Person* e = recipients[i];
        if (!e) continue;
        if (e->email().empty()) {
            noAddress.add(Who(*e, i) + " has no e-mail address");
        } else if (!IsValidAddress(e->email())) {
            noAddress.add(Who(*e, i) + " has the e-mail address \"" + OneLine(e->email()) +
                          "\", which is not valid");
        } else {
            withAddress.push_back(i);
        }
        if (std::string why = MergeGrowthProblem(index, *e, mailText); !why.empty()) {
            tooLarge.add(std::move(why));
            continue; // its attachment paths would grow the same way
        }
        addressLines.check(*e, i);
        for (const Attachment& a : st.attachments) {
            PersonalPath personal;
            try {
                personal = AttachmentPathOf(a.path, index, *e);
            } catch (const ComposeError& error) {
                tooLarge.add(error.what());
                continue;
            }
            if (!personal.problem.empty()) {
                (personal.hiddenPart ? hiddenParts : outOfFolder)
                    .add(Who(*e, i) + ": " + personal.problem);
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
            if (it->second.empty()) chosenFiles.check(a.path, path, *e, i);
        }
    }
    for (const std::vector<std::size_t>& who : SharedAddresses(recipients, std::move(withAddress))) {
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
    hiddenParts.flushInto(out);
    files.flushInto(out);
    unknownFields.flushInto(out);
    brokenFallbacks.flushInto(out);
    noAddress.flushInto(out);
    addressLines.flushInto(out);
    leftOutAddresses.flushInto(out);
    repeated.flushInto(out);
    chosenFiles.flushInto(out);
    return out;
}

bool HasBlockingProblem(const std::vector<SendProblem>& problems) {
    return std::any_of(problems.begin(), problems.end(),
                       [](const SendProblem& p) { return p.severity == CheckSeverity::Blocking; });
}

} // namespace tandrel
