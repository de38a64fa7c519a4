// SPDX-License-Identifier: GPL-3.0-or-later
// The Markdown composer: fields, one person and a Markdown text from the input. A value
// is always text in the HTML: the markup is the same whatever the values hold, so
// putting dots for the markup characters of the values changes none of the HTML's.
// The preview is UTF-8 whatever the encoding of the text and values. Every inline image
// stays under the mail's folder, and the body's parts hold no line that ends a part or
// the message early.
#include <algorithm>
#include <cstdint>

#include "merge/Formatted.h"
#include "fuzz/FuzzSupport.h"
#include "fuzz/FuzzedPerson.h"
#include "model/TextEncoding.h"
#include "model/TextFile.h"

using namespace tandrel;

namespace {

constexpr std::string_view kMarkup = "<>&\"'";
// What only markup writes: an escaped value holds none of them.
constexpr std::string_view kTagsAndQuotes = "<>\"'";

// The same text with dots for the markup characters: blank exactly when it was.
std::string Plain(std::string s) {
    for (char& c : s)
        if (kMarkup.find(c) != std::string_view::npos) c = '.';
    return s;
}

// The HTML without its links: an autolink made of a value is a real link when the value
// is an address and plain text otherwise, so whether a value's characters make it one is
// up to the value. What must hold is that nothing else of the markup depends on them.
std::string WithoutLinks(std::string html) {
    for (std::size_t at; (at = html.find("<a href=\"")) != std::string::npos;) {
        const std::size_t end = html.find("\">", at + 9);
        if (end == std::string::npos) break;
        html.erase(at, end + 2 - at);
    }
    for (std::size_t at; (at = html.find("</a>")) != std::string::npos;)
        html.erase(at, 4);
    return html;
}

Person PlainCopy(const Person& e) {
    Person copy;
    copy.setName(Plain(e.name()));
    copy.setEmail(Plain(e.email()));
    for (const std::string& v : e.values)
        copy.values.push_back(Plain(v));
    copy.missingValuesEmpty = e.missingValuesEmpty;
    return copy;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::vector<Field> fields = fuzz::ConsumeFields(in, 2);
    const Person entry = fuzz::ConsumePerson(in, 3);
    const std::string markdown = in.ConsumeRemainingBytesAsString();

    std::string html, plainHtml, preview;
    MailText mail;
    mail.lines = SplitAtLineEnds(markdown);
    try {
        html = WithoutLinks(RenderMergedHtml(fields, markdown, entry));
        plainHtml = WithoutLinks(RenderMergedHtml(fields, markdown, PlainCopy(entry)));
        preview = FormattedPreviewHtml(fields, mail, entry);
    } catch (const ComposeError&) {
        return 0; // values that grow without end
    }
    for (const char c : kTagsAndQuotes)
        FUZZ_CHECK(std::count(html.begin(), html.end(), c) ==
                   std::count(plainHtml.begin(), plainHtml.end(), c));
    FUZZ_CHECK(IsValidUtf8(preview));

    for (const std::string& path : InlineImagePaths(markdown, "mail")) {
        FUZZ_CHECK(path.starts_with("mail/") && path.size() > 5 && path[5] != '/');
        FUZZ_CHECK(("/" + path + "/").find("/../") == std::string::npos);
    }

    // Without image files beside it: a mail that shows one is refused.
    FormattedBodyBuilder builder("/nonexistent");
    std::vector<std::string> body;
    try {
        body = builder.build(SplitAtLineEnds(markdown), FieldIndex(fields), markdown, entry,
                             "<id@example.org>");
    } catch (const ComposeError&) {
        return 0;
    }
    const std::string typeLine = FormattedBodyBuilder::TypeLine();
    const std::string boundary = "--" + typeLine.substr(typeLine.find("boundary=") + 9);
    std::size_t boundaries = 0;
    for (const std::string& line : body) {
        FUZZ_CHECK(line.size() <= 78 && line.find_first_of("\r\n") == std::string::npos);
        FUZZ_CHECK(!line.starts_with("."));
        if (line.starts_with("--")) {
            FUZZ_CHECK(line == boundary || line == boundary + "--");
            ++boundaries;
        }
    }
    // The text part, the HTML part and the end.
    FUZZ_CHECK(boundaries == 3 && body.back() == boundary + "--");
    return 0;
}
