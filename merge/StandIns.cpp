// SPDX-License-Identifier: GPL-3.0-or-later
// Putting values back into rendered HTML by where they stand: text, attribute value,
// address, tag, comment.
#include "merge/StandIns.h"

#include <algorithm>

namespace tandrel {

namespace {

constexpr std::string_view kKeptSchemes[] = {"http", "https", "mailto"};

bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsHtmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}

bool EqualsIgnoringCase(std::string_view text, std::string_view lower) {
    if (text.size() != lower.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if ((text[i] >= 'A' && text[i] <= 'Z' ? text[i] + 32 : text[i]) != lower[i]) return false;
    return true;
}

// Elements whose content a reader takes as text up to their end tag.
bool HoldsOnlyText(std::string_view name) {
    static constexpr std::string_view kNames[] = {"script",  "style",    "xmp",      "iframe",
                                                  "noembed", "noframes", "noscript", "textarea",
                                                  "title",   "plaintext"};
    return std::any_of(std::begin(kNames), std::end(kNames),
                       [&](std::string_view k) { return EqualsIgnoringCase(name, k); });
}

bool IsKeptScheme(std::string_view scheme) {
    return std::find(std::begin(kKeptSchemes), std::end(kKeptSchemes), scheme) !=
           std::end(kKeptSchemes);
}

// Attributes whose value a reader follows or fetches.
bool IsAddressAttribute(std::string_view lowerName) {
    static constexpr std::string_view kNames[] = {
        "href",   "src",      "srcset", "action",   "formaction", "background", "poster",  "cite",
        "data",   "lowsrc",   "dynsrc", "longdesc", "codebase",   "classid",    "archive", "ping",
        "usemap", "manifest", "icon",   "profile",  "xlink:href", "itemid",     "itemtype"};
    return std::find(std::begin(kNames), std::end(kNames), lowerName) != std::end(kNames);
}

// An attribute value's text as a reader decodes it: numeric references and the named
// ones that matter for a scheme; any other reference stays as written (its "&" is no
// scheme character, so an address it hides in is left out).
std::string DecodeReferences(std::string_view text) {
    static constexpr std::pair<std::string_view, char> kNamed[] = {
        {"amp;", '&'},   {"lt;", '<'},     {"gt;", '>'},   {"quot;", '"'},
        {"apos;", '\''}, {"colon;", ':'},  {"Tab;", '\t'}, {"NewLine;", '\n'},
        {"sol;", '/'},   {"period;", '.'}, {"plus;", '+'}, {"hyphen;", '-'}};
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '&') {
            out += text[i];
            continue;
        }
        const std::string_view rest = text.substr(i + 1);
        if (!rest.empty() && rest[0] == '#') {
            const bool hex = rest.size() > 1 && (rest[1] == 'x' || rest[1] == 'X');
            std::size_t k = hex ? 2 : 1;
            unsigned long code = 0;
            const std::size_t digits = k;
            for (; k < rest.size() && k - digits < 8; ++k) {
                const char c = rest[k];
                const int d = IsDigit(c)                    ? c - '0'
                              : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                            : -1;
                if (d < 0) break;
                code = code * (hex ? 16 : 10) + static_cast<unsigned long>(d);
            }
            if (k > digits) {
                // Only the ASCII a scheme is made of matters here; others stand as one byte
                // that no scheme holds.
                out += code < 0x80 ? static_cast<char>(code) : '\x80';
                i += k + (k < rest.size() && rest[k] == ';' ? 1 : 0);
                continue;
            }
        }
        bool named = false;
        for (auto [name, c] : kNamed)
            if (rest.substr(0, name.size()) == name) {
                out += c;
                i += name.size();
                named = true;
                break;
            }
        if (!named) out += '&';
    }
    return out;
}

// "scheme:..." as an autolink takes it: 2 to 32 scheme characters, then no blank,
// control character or angle bracket.
bool IsUriAutolink(std::string_view text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon < 2 || colon > 32 || !IsLetter(text[0]))
        return false;
    for (std::size_t i = 1; i < colon; ++i)
        if (!IsLetter(text[i]) && !IsDigit(text[i]) && text[i] != '+' && text[i] != '.' &&
            text[i] != '-')
            return false;
    return std::none_of(text.begin() + colon, text.end(), [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return b <= 0x20 || b == 0x7F || c == '<' || c == '>';
    });
}

// An e-mail address as an autolink takes it.
bool IsEmailAutolink(std::string_view text) {
    const std::size_t at = text.find('@');
    if (at == std::string_view::npos || at == 0) return false;
    constexpr std::string_view kLocal = ".!#$%&'*+/=?^_`{|}~-";
    for (std::size_t i = 0; i < at; ++i)
        if (!IsLetter(text[i]) && !IsDigit(text[i]) &&
            kLocal.find(text[i]) == std::string_view::npos)
            return false;
    std::string_view domain = text.substr(at + 1);
    for (;;) {
        const std::string_view label = domain.substr(0, domain.find('.'));
        if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-')
            return false;
        for (char c : label)
            if (!IsLetter(c) && !IsDigit(c) && c != '-') return false;
        if (label.size() == domain.size()) return true;
        domain.remove_prefix(label.size() + 1);
    }
}

// One walk over the renderer's HTML, knowing at each stand-in where it stands.
class Writer {
public:
    Writer(std::string_view html, const StandIns& standIns, std::vector<LeftOutAddress>* leftOut)
        : html_(html), standIns_(standIns), leftOut_(leftOut) {}

    std::string run() {
        out_.reserve(html_.size() + html_.size() / 8);
        const char first = standIns_.firstCharacter();
        while (i_ < html_.size()) {
            std::size_t stop = i_;
            while (stop < html_.size() && html_[stop] != '<' && html_[stop] != '&' &&
                   html_[stop] != first)
                ++stop;
            out_ += html_.substr(i_, stop - i_);
            if ((i_ = stop) == html_.size()) break;
            std::size_t length = 0;
            if (const StandIns::Value* v = valueAt(i_, length)) {
                textValue(*v, length);
            } else if (html_[i_] == '<') {
                markup();
            } else if (html_[i_] == '&' && startsReferenceWithValue(i_ + 1)) {
                out_ += "&amp;"; // a value after "&" would read as a character reference
                ++i_;
            } else {
                out_ += html_[i_++];
            }
        }
        return std::move(out_);
    }

private:
    const StandIns::Value* valueAt(std::size_t pos, std::size_t& length) const {
        return standIns_.valueAt(html_, pos, length);
    }

    bool startsReferenceWithValue(std::size_t pos) const {
        if (pos < html_.size() && html_[pos] == '#') ++pos;
        if (pos < html_.size() && (html_[pos] == 'x' || html_[pos] == 'X')) ++pos;
        std::size_t length = 0;
        return valueAt(pos, length) != nullptr;
    }

    void textValue(const StandIns::Value& v, std::size_t length) {
        constexpr std::string_view kOpen = "&lt;", kClose = "&gt;";
        const bool autolink = links_ == 0 && code_ == 0 && i_ >= kOpen.size() &&
                              html_.substr(i_ - kOpen.size(), kOpen.size()) == kOpen &&
                              html_.substr(i_ + length, kClose.size()) == kClose;
        i_ += length;
        if (!autolink) {
            out_ += EscapeHtml(v.text);
            return;
        }
        // The "&lt;" before it was copied as it stood.
        out_.resize(out_.size() - kOpen.size());
        i_ += kClose.size();
        const std::string shown = EscapeHtml(v.text);
        std::string href;
        if (IsUriAutolink(v.text)) {
            if (IsKeptScheme(SchemeOf(v.text)))
                href = shown;
            else
                leaveOut(v.field, v.text);
        } else if (IsEmailAutolink(v.text)) {
            href = "mailto:" + shown;
        }
        if (href.empty())
            out_ += "&lt;" + shown + "&gt;";
        else
            out_ += "<a href=\"" + href + "\">" + shown + "</a>";
    }

    void leaveOut(const std::string& field, std::string_view address) {
        if (leftOut_) leftOut_->push_back({field, std::string(address)});
    }

    // `text` as it stands, every character and value shown as text.
    std::string shownAsText(std::string_view text) const {
        std::string out;
        for (std::size_t p = 0; p < text.size();) {
            std::size_t length = 0;
            if (const StandIns::Value* v = standIns_.valueAt(text, p, length)) {
                out += EscapeHtml(v->text);
                p += length;
            } else {
                out += EscapeHtml(text.substr(p++, 1));
            }
        }
        return out;
    }

    // `text` without the values in it.
    std::string withoutValues(std::string_view text) const {
        std::string out;
        for (std::size_t p = 0; p < text.size();) {
            std::size_t length = 0;
            if (standIns_.valueAt(text, p, length))
                p += length;
            else
                out += text[p++];
        }
        return out;
    }

    // At "<": a tag, a comment, or a "<" of the text.
    void markup() {
        const std::string_view rest = html_.substr(i_);
        if (rest.size() > 1 && IsLetter(rest[1])) {
            tag(false);
        } else if (rest.size() > 2 && rest[1] == '/' && IsLetter(rest[2])) {
            tag(true);
        } else if (rest.starts_with("<!--")) {
            const std::size_t close = rest.find("-->", 2);
            comment(close == std::string_view::npos ? rest.size() : close + 3);
        } else if (rest.size() > 1 && (rest[1] == '!' || rest[1] == '?')) {
            const std::size_t end = rest.find('>');
            comment(end == std::string_view::npos ? rest.size() : end + 1);
        } else {
            out_ += "&lt;";
            ++i_;
        }
    }

    void comment(std::size_t length) {
        out_ += withoutValues(html_.substr(i_, length));
        i_ += length;
    }

    struct Attribute {
        std::size_t start, end; // in the HTML
        std::string_view name, value;
    };

    // The tag starting at i_ as a reader splits it: its name, attributes (in attributes_)
    // and end, one past its ">"; `closed` false when the HTML ends first.
    std::size_t parseTag(bool end, std::string_view& name, bool& closed) {
        attributes_.clear();
        closed = false;
        const std::size_t n = html_.size();
        std::size_t p = i_ + (end ? 2 : 1);
        const std::size_t nameStart = p;
        while (p < n && !IsHtmlSpace(html_[p]) && html_[p] != '/' && html_[p] != '>')
            ++p;
        name = html_.substr(nameStart, p - nameStart);
        for (;;) {
            while (p < n && (IsHtmlSpace(html_[p]) || html_[p] == '/'))
                ++p;
            if (p >= n) return n;
            if (html_[p] == '>') {
                closed = true;
                return p + 1;
            }
            Attribute a{p++, 0, {}, {}};
            while (p < n && !IsHtmlSpace(html_[p]) && html_[p] != '/' && html_[p] != '>' &&
                   html_[p] != '=')
                ++p;
            a.name = html_.substr(a.start, p - a.start);
            std::size_t q = p;
            while (q < n && IsHtmlSpace(html_[q]))
                ++q;
            if (q < n && html_[q] == '=') {
                ++q;
                while (q < n && IsHtmlSpace(html_[q]))
                    ++q;
                if (q < n && (html_[q] == '"' || html_[q] == '\'')) {
                    const std::size_t close = html_.find(html_[q], q + 1);
                    if (close == std::string_view::npos) return n;
                    a.value = html_.substr(q + 1, close - q - 1);
                    p = close + 1;
                } else {
                    for (p = q; p < n && !IsHtmlSpace(html_[p]) && html_[p] != '>';)
                        ++p;
                    a.value = html_.substr(q, p - q);
                }
            }
            a.end = p;
            attributes_.push_back(a);
        }
    }

    // A start or end tag from "<" to ">". Attribute values with values in them are
    // quoted and escaped, addresses checked; a tag that cannot be kept so is text.
    void tag(bool end) {
        std::string_view name;
        bool closed = false;
        const std::size_t tagEnd = parseTag(end, name, closed);
        const std::string_view whole = html_.substr(i_, tagEnd - i_);
        const bool valued = standIns_.holdsOne(whole);
        bool asText = !closed || (valued && (end || standIns_.holdsOne(name)));
        for (const Attribute& a : attributes_)
            asText = asText || standIns_.holdsOne(a.name);
        i_ = tagEnd;
        if (asText) {
            out_ += shownAsText(whole);
            return;
        }
        if (!valued) {
            out_ += whole;
        } else {
            std::size_t done = tagEnd - whole.size();
            for (const Attribute& a : attributes_) {
                if (!standIns_.holdsOne(a.value)) continue;
                out_ += html_.substr(done, a.start - done);
                const std::string kept = attribute(a.name, a.value);
                // An attribute left out takes the blank before it along.
                if (kept.empty() && !out_.empty() && IsHtmlSpace(out_.back())) out_.pop_back();
                out_ += kept;
                done = a.end;
            }
            out_ += html_.substr(done, tagEnd - done);
        }
        for (auto [tagName, depth] :
             {std::pair<std::string_view, int*>{"a", &links_}, {"code", &code_}, {"pre", &code_}})
            if (EqualsIgnoringCase(name, tagName))
                *depth = end ? std::max(0, *depth - 1) : *depth + 1;
        if (!end && HoldsOnlyText(name)) onlyText(name);
    }

    // `name="..."` for an attribute with values in its value; "" for an address left out.
    std::string attribute(std::string_view name, std::string_view value) {
        std::string shown, address, field;
        std::size_t done = 0;
        for (std::size_t p = 0; p < value.size();) {
            std::size_t length = 0;
            const StandIns::Value* v = standIns_.valueAt(value, p, length);
            if (!v) {
                ++p;
                continue;
            }
            const std::string_view written = value.substr(done, p - done);
            for (char c : written)
                shown += c == '"' ? std::string("&quot;") : std::string(1, c);
            address += DecodeReferences(written);
            shown += EscapeHtml(v->text);
            address += v->text;
            if (field.empty()) field = v->field;
            p += length;
            done = p;
        }
        for (char c : value.substr(done))
            shown += c == '"' ? std::string("&quot;") : std::string(1, c);
        address += DecodeReferences(value.substr(done));
        if (IsAddressAttribute(Lower(name)) && !IsKeptScheme(SchemeOf(address))) {
            leaveOut(field, address);
            return std::string();
        }
        return std::string(name) + "=\"" + shown + "\"";
    }

    // The content of an element a reader takes as text, to its end tag: values escaped,
    // so that none can end it.
    void onlyText(std::string_view name) {
        std::size_t end = i_;
        for (; end < html_.size(); ++end)
            if (html_[end] == '<' && end + 1 < html_.size() && html_[end + 1] == '/' &&
                EqualsIgnoringCase(html_.substr(end + 2, name.size()), Lower(name)))
                break;
        for (std::size_t length = 0; i_ < end;) {
            if (const StandIns::Value* v = valueAt(i_, length)) {
                out_ += EscapeHtml(v->text);
                i_ += length;
            } else {
                out_ += html_[i_++];
            }
        }
    }

    std::string_view html_;
    const StandIns& standIns_;
    std::vector<LeftOutAddress>* leftOut_;
    std::string out_;
    std::size_t i_ = 0;
    int links_ = 0; // inside <a>: no link in a link
    int code_ = 0;  // inside <code> or <pre>: text as written
    std::vector<Attribute> attributes_;
};

} // namespace

std::string EscapeHtml(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string SchemeOf(std::string_view url) {
    std::size_t i = 0;
    while (i < url.size() && static_cast<unsigned char>(url[i]) <= 0x20)
        ++i;
    std::string scheme;
    for (; i < url.size(); ++i) {
        const char c = url[i];
        if (c == '\t' || c == '\n' || c == '\r') continue;
        if (c == ':') return scheme.empty() ? std::string() : Lower(scheme);
        const bool schemeChar =
            IsLetter(c) || (!scheme.empty() && (IsDigit(c) || c == '+' || c == '-' || c == '.'));
        if (!schemeChar) return std::string();
        scheme += c;
    }
    return std::string();
}

StandIns::StandIns(std::string_view text) {
    while (text.find(prefix_) != std::string_view::npos)
        prefix_ += 'q';
}

std::string StandIns::add(std::string value, std::string field) {
    values_.push_back(Value{std::move(value), std::move(field)});
    return prefix_ + std::to_string(values_.size() - 1) + "X";
}

bool StandIns::holdsOne(std::string_view text) const {
    return text.find(prefix_) != std::string_view::npos;
}

const StandIns::Value* StandIns::valueAt(std::string_view text, std::size_t pos,
                                         std::size_t& length) const {
    if (pos >= text.size() || text[pos] != prefix_[0] ||
        text.compare(pos, prefix_.size(), prefix_) != 0)
        return nullptr;
    std::size_t i = pos + prefix_.size();
    const std::size_t digits = i;
    std::size_t number = 0;
    while (i < text.size() && IsDigit(text[i]) && i - digits < 9)
        number = number * 10 + static_cast<std::size_t>(text[i++] - '0');
    if (i == digits || i >= text.size() || text[i] != 'X' || number >= values_.size())
        return nullptr;
    length = i + 1 - pos;
    return &values_[number];
}

std::string StandIns::putBack(std::string_view html, std::vector<LeftOutAddress>* leftOut) const {
    return Writer(html, *this, leftOut).run();
}

} // namespace tandrel
