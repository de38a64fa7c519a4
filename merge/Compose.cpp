// SPDX-License-Identifier: GPL-3.0-or-later
// Merging the mail for one person: header lines, body, line wrapping, encodings.
#include "merge/Compose.h"

#include <algorithm>

#include "merge/Address.h"
#include "merge/Fallback.h"
#include "merge/Formatted.h"
#include "model/MailFile.h"
#include "merge/Merge.h"
#include "model/TextFile.h"

namespace tandrel {

namespace {

// Appends the pieces of one line, each at most MaxLineLength long.
void AppendWrapped(std::vector<std::string>& out, std::string_view line) {
    constexpr std::size_t W = MaxLineLength;
    while (line.size() > W) {
        const std::size_t blank = line.rfind(' ', W - 1);
        std::size_t keep;
        if (blank == std::string_view::npos)
            keep = W - 1; // no blank: cut after W - 1 characters
        else if (blank == 0)
            keep = W; // only the leading blank: cutting there would make no progress
        else
            keep = blank; // the blank begins the continuation line
        out.emplace_back(line.substr(0, keep));
        line.remove_prefix(keep);
    }
    out.emplace_back(line);
}

} // namespace

void WrapLongLines(std::vector<std::string>& lines) {
    // Splitting one line never depends on another, so the repeated passes come down
    // to splitting each line on its own until every piece fits. Building a new list
    // keeps that linear where inserting into the old one would not be.
    std::size_t first = 0;
    while (first < lines.size() && lines[first].size() <= MaxLineLength)
        ++first;
    if (first == lines.size()) return;

    std::vector<std::string> out;
    out.reserve(lines.size() + 16);
    for (std::size_t i = 0; i < first; ++i)
        out.push_back(std::move(lines[i]));
    for (std::size_t i = first; i < lines.size(); ++i) {
        if (lines[i].size() <= MaxLineLength)
            out.push_back(std::move(lines[i]));
        else
            AppendWrapped(out, lines[i]);
    }
    lines.swap(out);
}

std::vector<std::string> ComposeMessage(const std::vector<Field>& fields, const MailText& mail,
                                        const Person& entry) {
    return MessageComposer(fields, mail, std::string()).plain(entry);
}

namespace {

constexpr std::size_t npos = std::string::npos;

// The non-ASCII text a piece holds. A file or value that is not UTF-8 is Windows-1252.
enum TextKind : unsigned { kAsciiOnly = 0, kUtf8 = 1, kWindows1252 = 2, kBothKinds = 3 };

unsigned KindOf(std::string_view text) {
    if (IsAscii(text)) return kAsciiOnly;
    return IsValidUtf8(text) ? kUtf8 : kWindows1252;
}

// A template is one file, in one encoding: one non-UTF-8 piece makes it Windows-1252.
unsigned TemplateKind(const std::vector<std::string_view>& texts) {
    unsigned kinds = kAsciiOnly;
    for (std::string_view t : texts)
        kinds |= KindOf(t);
    return kinds & kWindows1252 ? kWindows1252 : kinds;
}

// The values in the order of the merge, as slots: name, email, then field k as 2 + k
// for the fields that have a value.
std::size_t SlotCount(const std::vector<Field>& fields, const Person& e) {
    return 2 + PairedFields(fields.size(), e);
}

const std::string& SlotValue(const Person& e, std::size_t slot) {
    return slot == 0 ? e.name() : slot == 1 ? e.email() : ValueOf(e, slot - 2);
}

std::string_view SlotName(const std::vector<Field>& fields, std::size_t slot) {
    return slot == 0 ? "name" : slot == 1 ? "email" : std::string_view(fields[slot - 2].name);
}

// The slot a placeholder name stands for ("[name]" is the entry's name whatever the
// fields are called; of fields with one name, the first); npos for none.
std::size_t SlotNamed(const std::vector<Field>& fields, std::string_view name) {
    for (std::size_t s = 0; s < 2 + fields.size(); ++s)
        if (SlotName(fields, s) == name) return s;
    return npos;
}

// A "[" before another "[" with no "]" between: merging what lies between may leave a
// placeholder that the text did not hold.
bool NestsBrackets(std::string_view text) {
    bool open = false;
    for (char c : text) {
        if (c == '[' && open) return true;
        if (c == '[' || c == ']') open = c == '[';
    }
    return false;
}

// By slot: whether the value may reach the merged texts, as its placeholder is in one.
std::vector<bool> PlaceholdersIn(const std::vector<Field>& fields,
                                 const std::vector<std::string_view>& texts) {
    std::vector<bool> used(2 + fields.size());
    if (std::any_of(texts.begin(), texts.end(), NestsBrackets)) {
        used.flip();
        return used;
    }
    std::string ph, withFallback;
    for (std::size_t s = 0; s < used.size(); ++s) {
        ph.assign(1, '[');
        ph += SlotName(fields, s);
        withFallback = ph + '|';
        ph += ']';
        used[s] = std::any_of(texts.begin(), texts.end(), [&](std::string_view t) {
            return t.find(ph) != npos || t.find(withFallback) != npos;
        });
    }
    return used;
}

// Whether the template and the values that reach the message hold both kinds of
// non-ASCII text. A value with a bracket may carry any other placeholder in with it,
// and then every value counts.
bool MixesCharsets(unsigned templateKind, const std::vector<bool>& used,
                   const std::vector<Field>& fields, const Person& e) {
    // Values a short row leaves out are empty: plain ASCII without brackets.
    const std::size_t slots = std::min(SlotCount(fields, e), 2 + e.values.size());
    unsigned kinds = templateKind;
    bool brackets = false;
    for (std::size_t s = 0; s < slots && kinds != kBothKinds; ++s) {
        const std::string& v = SlotValue(e, s);
        brackets = brackets || v.find_first_of("[]") != npos;
        if (used[s]) kinds |= KindOf(v);
    }
    for (std::size_t s = 0; brackets && s < slots && kinds != kBothKinds; ++s)
        kinds |= KindOf(SlotValue(e, s));
    return kinds == kBothKinds;
}

void ToUtf8(std::string& text) {
    if (KindOf(text) == kWindows1252) text = Windows1252ToUtf8(text);
}

Person ValuesAsUtf8(const Person& e) {
    Person u = e;
    u.convertTexts(ToUtf8);
    return u;
}

// The places of a From or To line where a value needs quoting once it holds certain
// characters: in a quoted string, or outside quotes and angle brackets before the "<"
// of its address (an address ends at a comma outside both). Values inside angle
// brackets or forming a bare address stay as they are.
std::vector<AddressPlace> FindAddressPlaces(std::string_view line,
                                            const std::vector<Field>& fields) {
    std::vector<AddressPlace> places;
    bool address = false;
    for (std::string_view name : {"from", "to", "cc", "bcc", "reply-to"})
        address = address || HeaderNameIs(line, name);
    if (!address) return places;
    std::vector<AddressPlace> beforeAngle; // in this address, no "<" seen after them yet
    bool quoted = false;
    bool angle = false;
    for (std::size_t i = line.find(':') + 1; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '[' && !angle) {
            const auto fallback = FindFallback(line, i);
            if (fallback && fallback->begin == i) {
                const std::size_t slot = SlotNamed(fields, fallback->field);
                if (slot != npos) {
                    (quoted ? places : beforeAngle)
                        .push_back(AddressPlace{i, fallback->end, slot, quoted,
                                                std::string(fallback->text)});
                    i = fallback->end - 1;
                    continue;
                }
            }
            const std::size_t close = line.find_first_of("[]", i + 1);
            const std::size_t slot = close != npos && line[close] == ']'
                                         ? SlotNamed(fields, line.substr(i + 1, close - i - 1))
                                         : npos;
            if (slot != npos) {
                (quoted ? places : beforeAngle)
                    .push_back(AddressPlace{i, close + 1, slot, quoted, std::nullopt});
                i = close;
                continue;
            }
        }
        if (quoted) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                quoted = false;
        } else if (angle) {
            angle = c != '>';
        } else if (c == '"') {
            quoted = true;
        } else if (c == '<') {
            angle = true;
            places.insert(places.end(), beforeAngle.begin(), beforeAngle.end());
            beforeAngle.clear();
        } else if (c == ',') {
            beforeAngle.clear();
        }
    }
    std::sort(places.begin(), places.end(),
              [](const AddressPlace& a, const AddressPlace& b) { return a.begin < b.begin; });
    return places;
}

// The placeholders inside the angle brackets of a List- line, which hold URLs.
std::vector<AddressPlace> FindUrlPlaces(std::string_view line,
                                        const std::vector<Field>& fields) {
    std::vector<AddressPlace> places;
    if (!IsListHeader(line)) return places;
    bool angle = false;
    for (std::size_t i = line.find(':') + 1; i < line.size(); ++i) {
        if (line[i] == '<' || line[i] == '>') angle = line[i] == '<';
        if (line[i] != '[' || !angle) continue;
        const auto fallback = FindFallback(line, i);
        const std::size_t close = line.find_first_of("[]", i + 1);
        if (fallback && fallback->begin == i) {
            const std::size_t slot = SlotNamed(fields, fallback->field);
            if (slot == npos) continue;
            places.push_back(
                AddressPlace{i, fallback->end, slot, false, std::string(fallback->text), true});
            i = fallback->end - 1;
        } else if (close != npos && line[close] == ']') {
            const std::size_t slot = SlotNamed(fields, line.substr(i + 1, close - i - 1));
            if (slot == npos) continue;
            places.push_back(AddressPlace{i, close + 1, slot, false, std::nullopt, true});
            i = close;
        }
    }
    return places;
}

MailTemplate MakeTemplate(const std::vector<std::string>& header, std::string body,
                          const std::vector<Field>& fields) {
    MailTemplate t;
    for (const std::string& line : header) {
        std::vector<AddressPlace> places = FindAddressPlaces(line, fields);
        if (places.empty()) places = FindUrlPlaces(line, fields);
        t.header.push_back(HeaderTemplateLine{line, std::move(places)});
    }
    t.body = std::move(body);
    return t;
}

// The merged header line, one line whatever the values hold. Where a value must be
// escaped or quoted, it is inserted so and the text around it merged on its own;
// otherwise the line merges as any text.
std::string MergeHeaderLine(const HeaderTemplateLine& h, const FieldIndex& index,
                            const Person& e) {
    std::string line;
    std::size_t from = 0;
    const std::size_t slots = SlotCount(index.fields(), e);
    static const std::string noValue;
    for (const AddressPlace& p : h.places) {
        if (p.slot >= slots && !p.fallback) continue;
        const std::string& given = p.slot < slots ? SlotValue(e, p.slot) : noValue;
        const std::string& v = p.fallback && IsBlankValue(given) ? *p.fallback : given;
        std::string inserted;
        if (p.url) {
            inserted = PercentEncodeUrl(OneLine(v));
            if (inserted == v) continue;
        } else {
            if (v.find_first_of(p.quoted ? "\"\\" : ",;:@<>()[]\"\\") == npos) continue;
            inserted = p.quoted ? EscapeQuoted(v) : "\"" + EscapeQuoted(v) + "\"";
        }
        std::string before = h.text.substr(from, p.begin - from);
        MergePlaceholders(index, e, before);
        line += before;
        line += inserted;
        from = p.end;
    }
    std::string rest = h.text.substr(from);
    MergePlaceholders(index, e, rest);
    if (from == 0) return OneLine(rest);
    return OneLine(line + rest);
}

} // namespace

MessageComposer::MessageComposer(const std::vector<Field>& fields, const MailText& mail,
                                 std::string fallbackHost, std::string imageFolder)
    : fields_(fields), index_(fields), hasHeader_(mail.hasHeader),
      fallbackHost_(std::move(fallbackHost)) {
    const auto& lines = mail.lines;
    auto bodyStart = lines.begin();
    std::vector<std::string> header;
    if (hasHeader_) {
        const auto end = std::find(lines.begin(), lines.end(), std::string());
        if (end == lines.end()) {
            hasHeader_ = false; // no empty line: nothing can be told apart as header
        } else {
            header.assign(lines.begin(), end);
            bodyStart = end + 1;
        }
    }
    std::string body = JoinLines(std::vector<std::string>(bodyStart, lines.end()));
    std::vector<std::string_view> texts(header.begin(), header.end());
    texts.push_back(body);
    templateKind_ = TemplateKind(texts);
    used_ = PlaceholdersIn(fields, texts);
    if (templateKind_ == kWindows1252) {
        std::vector<std::string> utf8Header;
        for (const std::string& l : header)
            utf8Header.push_back(Windows1252ToUtf8(l));
        utf8Template_ = MakeTemplate(utf8Header, Windows1252ToUtf8(body), fields);
    }
    template_ = MakeTemplate(header, std::move(body), fields);
    if (hasHeader_ && FormatOfMail(mail) == MailFormat::Markdown)
        formatted_ = std::make_unique<FormattedBodyBuilder>(std::move(imageFolder));
}

MessageComposer::~MessageComposer() = default;

const MailTemplate& MessageComposer::templateFor(const Person& entry, Person& converted,
                                                 const Person*& values) const {
    // Only a message that mixes the two kinds pays for a converted copy of its values;
    // formatted mail is always UTF-8, as its HTML rendering is.
    values = &entry;
    if (!formatted_ && !MixesCharsets(templateKind_, used_, fields_, entry)) return template_;
    if (formatted_ && templateKind_ != kWindows1252 &&
        !MixesCharsets(templateKind_ | kUtf8, used_, fields_, entry))
        return template_;
    converted = ValuesAsUtf8(entry);
    values = &converted;
    return templateKind_ == kWindows1252 ? utf8Template_ : template_;
}

void MessageComposer::merge(const Person& entry, std::vector<std::string>& header,
                            std::vector<std::string>& body) const {
    Person converted;
    const Person* e = nullptr;
    const MailTemplate* t = &templateFor(entry, converted, e);
    header.clear();
    std::size_t merged = 0;
    for (const HeaderTemplateLine& h : t->header) {
        header.push_back(MergeHeaderLine(h, index_, *e));
        merged += header.back().size();
    }
    std::string text = t->body;
    MergePlaceholders(index_, *e, text);
    // Each piece is bounded on its own; the message as a whole is too.
    if (merged + text.size() > kMaxMergedBytes)
        throw ComposeError(MergedTooLargeText(index_, entry));
    body = SplitLines(text);
}

void MessageComposer::mergeHeaderLines(const Person& entry,
                                       const std::vector<std::size_t>& which,
                                       std::vector<std::string>& merged) const {
    Person converted;
    const Person* e = nullptr;
    const MailTemplate& t = templateFor(entry, converted, e);
    merged.clear();
    for (const std::size_t k : which)
        merged.push_back(MergeHeaderLine(t.header.at(k), index_, *e));
}

std::vector<std::string> MessageComposer::plain(const Person& entry) const {
    std::vector<std::string> lines, body;
    merge(entry, lines, body);
    if (hasHeader_) lines.emplace_back();
    lines.insert(lines.end(), std::make_move_iterator(body.begin()),
                 std::make_move_iterator(body.end()));
    WrapLongLines(lines);
    return lines;
}

namespace {

bool IsPlainTextTypeLine(std::string_view line) {
    return EqualsNoCase(line, "content-type: text/plain");
}

bool StartsWithBoundary(const std::string& line) {
    return line.rfind("--partbound", 0) == 0;
}

std::string Lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}

// Takes the Bcc lines out of the merged header, and the other added lines whose value
// came out blank (an empty Cc is no header a reader accepts). The valid addresses of
// the Cc and Bcc lines go to `copies` (when given), each once, leaving out the To address.
void TakeCopyRecipients(std::vector<std::string>& header, const std::string& toAddress,
                        std::vector<std::string>* copies) {
    std::vector<std::string> seen = {Lowered(toAddress)};
    std::erase_if(header, [&](const std::string& line) {
        const std::size_t colon = line.find(':');
        const std::string_view value = std::string_view(line).substr(colon + 1);
        const bool bcc = HeaderNameIs(line, "bcc");
        if (colon != npos && IsBlankValue(value) &&
            !IsOwnHeaderName(std::string_view(line).substr(0, colon)))
            return true;
        if (copies && (bcc || HeaderNameIs(line, "cc"))) {
            for (std::string& address : AddressesOf(value)) {
                std::string key = Lowered(address);
                if (!IsValidAddress(address) ||
                    std::find(seen.begin(), seen.end(), key) != seen.end())
                    continue;
                seen.push_back(std::move(key));
                copies->push_back(std::move(address));
            }
        }
        return bcc;
    });
}

} // namespace

std::string MessageComposer::nextMessageId(const std::vector<std::string>& header) {
    std::string host;
    for (const std::string& l : header)
        if (HeaderNameIs(l, "from") && host.empty())
            host = DomainOfAddress(std::string_view(l).substr(5));
    if (host.empty()) {
        if (fallbackHost_.empty()) fallbackHost_ = FullyQualifiedHostName("localhost");
        host = fallbackHost_;
    }
    return ids_.next(host);
}

std::vector<std::string>
MessageComposer::composeFormatted(const Person& entry, std::vector<std::string> header,
                                  const std::vector<std::string>& plainBody) {
    Person converted;
    const Person* e = nullptr;
    const MailTemplate& t = templateFor(entry, converted, e);
    const std::string messageId = nextMessageId(header);
    std::vector<std::string> lines;
    for (const std::string& l : header) {
        if (HeaderNameIs(l, "content-type")) {
            lines.push_back(FormattedBodyBuilder::TypeLine());
            continue;
        }
        for (std::string& piece : EncodeHeaderLine(l, "utf-8"))
            lines.push_back(std::move(piece));
    }
    lines.push_back("Message-ID: " + messageId);
    lines.emplace_back();
    std::vector<std::string> body = formatted_->build(plainBody, index_, t.body, *e, messageId);
    lines.insert(lines.end(), std::make_move_iterator(body.begin()),
                 std::make_move_iterator(body.end()));
    return lines;
}

std::vector<std::string> MessageComposer::compose(const Person& entry, bool multipart,
                                                  std::vector<std::string>* copyRecipients) {
    if (!hasHeader_) return plain(entry);
    std::vector<std::string> header, body;
    merge(entry, header, body);
    TakeCopyRecipients(header, entry.email(), copyRecipients);
    if (formatted_) return composeFormatted(entry, std::move(header), body);

    std::string all;
    bool ascii = true;
    for (const auto* part : {&header, &body})
        for (const std::string& l : *part) {
            ascii = ascii && IsAscii(l);
            all += l;
        }
    // Plain ASCII keeps the mail's own form, long lines wrapped like every line of it;
    // a body line that reads as the boundary would end the text part, so it is encoded.
    const bool encode =
        !ascii || (multipart && std::any_of(body.begin(), body.end(), StartsWithBoundary));

    const std::string messageId = "Message-ID: " + nextMessageId(header);

    std::vector<std::string> lines;
    lines.reserve(header.size() + body.size() + 3);
    if (!encode) {
        // An over-long header line is folded (its charset only serves over-long words),
        // and the URLs of a List- line are escaped as URLs.
        for (std::string& l : header) {
            if (l.size() <= MaxLineLength && !IsListHeader(l)) {
                lines.push_back(std::move(l));
                continue;
            }
            for (std::string& piece : EncodeHeaderLine(l, "utf-8"))
                lines.push_back(std::move(piece));
        }
        lines.push_back(messageId);
        lines.emplace_back();
        lines.insert(lines.end(), std::make_move_iterator(body.begin()),
                     std::make_move_iterator(body.end()));
        WrapLongLines(lines);
        return lines;
    }
    const std::string charset = IsValidUtf8(all) ? "utf-8" : "windows-1252";
    for (const std::string& l : header) {
        if (IsPlainTextTypeLine(l)) {
            lines.push_back("Content-type: text/plain; charset=" + charset);
            lines.emplace_back("Content-Transfer-Encoding: quoted-printable");
            continue;
        }
        for (std::string& piece : EncodeHeaderLine(l, charset))
            lines.push_back(std::move(piece));
    }
    lines.push_back(messageId);
    lines.emplace_back();
    for (std::string& l : QuotedPrintableLines(body))
        lines.push_back(std::move(l));
    return lines;
}

std::vector<std::string> MergeLines(const std::vector<Field>& fields,
                                    const std::vector<std::string>& lines,
                                    const Person& entry) {
    std::string text = JoinLines(lines);
    const unsigned kind = KindOf(text);
    if (MixesCharsets(kind, PlaceholdersIn(fields, {text}), fields, entry)) {
        ToUtf8(text);
        MergePlaceholders(fields, ValuesAsUtf8(entry), text);
    } else {
        MergePlaceholders(fields, entry, text);
    }
    return SplitLines(text);
}

} // namespace tandrel

namespace tandrel {

std::vector<std::string> AddressesOf(std::string_view value) {
    std::vector<std::string> out;
    std::string bare, inAngle;
    bool sawAngle = false, quoted = false, angle = false;
    int comment = 0;
    auto finish = [&] {
        std::string address = sawAngle ? inAngle : bare;
        const std::size_t first = address.find_first_not_of(" \t");
        const std::size_t last = address.find_last_not_of(" \t");
        if (first != npos) out.push_back(address.substr(first, last - first + 1));
        bare.clear();
        inAngle.clear();
        sawAngle = false;
    };
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        std::string& into = angle ? inAngle : bare;
        if (quoted) {
            into += c;
            if (c == '\\' && i + 1 < value.size())
                into += value[++i];
            else if (c == '"')
                quoted = false;
        } else if (comment > 0) {
            if (c == '\\')
                ++i;
            else
                comment += c == '(' ? 1 : c == ')' ? -1 : 0;
        } else if (c == '(') {
            comment = 1;
        } else if (c == '"') {
            quoted = true;
            into += c;
        } else if (c == '<' && !angle) {
            angle = sawAngle = true;
            inAngle.clear();
        } else if (c == '>' && angle) {
            angle = false;
        } else if (c == ',' && !angle) {
            finish();
        } else {
            into += c;
        }
    }
    finish();
    return out;
}

} // namespace tandrel
