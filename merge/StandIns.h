// SPDX-License-Identifier: GPL-3.0-or-later
// Values carried through the Markdown renderer as stand-ins, and put back into the HTML
// it made as text: a value never becomes a tag, an attribute or a link scheme.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tandrel {

// `text` with & < > " ' as character references: text and attribute values alike.
std::string EscapeHtml(std::string_view text);

// The scheme of a URL as a reader takes it (blanks and control characters before it,
// tabs and line breaks inside it ignored), in lower case; "" for a URL without one.
std::string SchemeOf(std::string_view url);

// A link or image address made with a value that the HTML leaves out, because its
// scheme is none of http, https and mailto.
struct LeftOutAddress {
    std::string field;   // the field whose value is in it
    std::string address; // the address as it would have been
};

class StandIns {
public:
    struct Value {
        std::string text;
        std::string field;
    };

    // `text`: the Markdown the stand-ins go into, which never holds one otherwise.
    explicit StandIns(std::string_view text);

    // The stand-in of a value of `field`: a digit, then letters and digits. No Markdown
    // rule changes it, and after a "<" it starts neither a tag nor a link scheme.
    std::string add(std::string value, std::string field);

    bool holdsOne(std::string_view text) const;

    // The character every stand-in starts with.
    char firstCharacter() const { return prefix_[0]; }

    // The value whose stand-in starts at `pos` of `text`, and the stand-in's length;
    // null when none starts there.
    const Value* valueAt(std::string_view text, std::size_t pos, std::size_t& length) const;

    // The HTML with every stand-in replaced by its value, as text wherever it stands:
    // - in text, escaped; "&lt;stand-in&gt;" (an autolink written as a value) becomes a
    //   link when the value is an http, https or mailto URL or an e-mail address, and
    //   stays text otherwise;
    // - in an attribute value, which is then quoted, escaped; an address attribute
    //   (href, src, ...) with a value in it is left out unless its scheme is http,
    //   https or mailto;
    // - in a tag's name or an attribute's name: the whole tag becomes text;
    // - in a comment: left out, as nobody would see it.
    // Each address left out is added to `leftOut` when given.
    std::string putBack(std::string_view html,
                        std::vector<LeftOutAddress>* leftOut = nullptr) const;

private:
    std::string prefix_ = "0zTv";
    std::vector<Value> values_;
};

} // namespace tandrel
