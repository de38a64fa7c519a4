// SPDX-License-Identifier: GPL-3.0-or-later
// Formatted mail: a Markdown body sent as text/plain (as written, merged) beside
// text/html rendered from it, with the local images it shows as inline parts.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "merge/Merge.h"
#include "model/Model.h"
#include "merge/StandIns.h"

namespace tandrel {

// The HTML of a Markdown text merged for the entry. Placeholders are merged before
// rendering, but as stand-ins that no Markdown rule touches; the values (and fallback
// texts) replace them afterwards as text wherever they stand (StandIns::putBack): a
// value never adds a tag, an attribute or a link scheme, and a link or image address
// with a value in it is kept only for http, https and mailto. The text and values are
// taken as UTF-8.
std::string RenderMergedHtml(const std::vector<Field>& fields, const std::string& markdown,
                             const Person& entry);

// The link and image addresses that the entry's values make in the Markdown text and
// that its HTML leaves out, in order, each with its field.
std::vector<LeftOutAddress> LeftOutAddresses(const FieldIndex& fields, const std::string& markdown,
                                             const Person& entry);

// Whether LeftOutAddresses can find anything for an entry with a value for every field:
// a value stands where it takes part in an address's scheme. An entry with fewer values
// keeps placeholders as written, which may make other links.
bool ValuesMayMakeAddresses(const FieldIndex& fields, const std::string& markdown);

// A whole HTML document of the mail's body merged for the entry, for the preview;
// images keep the sources written in the Markdown (relative to the mail's folder).
// Windows-1252 text and values are converted to UTF-8 as in a message.
std::string FormattedPreviewHtml(const std::vector<Field>& fields, const MailText& mail,
                                 const Person& entry);

// The image files the body of a Markdown mail shows that go out as inline parts: every
// image source that is a relative path without ".." or control characters and names an
// image type, as a path under `folder`. Sources built from values are taken as written,
// never as files.
std::vector<std::string> InlineImagePaths(const std::string& markdownBody,
                                          const std::string& folder);

// The image sources of a Markdown body that are no URL and hold a control character
// once decoded ("%00" among them), as written: the file system would read such a path
// otherwise than it shows, so none of them goes out as a file.
std::vector<std::string> ImageSourcesWithControls(const std::string& markdownBody);

// The folder of the mail file, which image paths are relative to ("." for none).
std::string MailFolder(const std::string& mailPath);

// Builds the body of formatted messages: the parts after the header's empty line.
// Image files are read and encoded once for the whole run.
class FormattedBodyBuilder {
public:
    explicit FormattedBodyBuilder(std::string imageFolder);
    ~FormattedBodyBuilder();
    FormattedBodyBuilder(const FormattedBodyBuilder&) = delete;
    FormattedBodyBuilder& operator=(const FormattedBodyBuilder&) = delete;

    // The multipart/alternative type line that stands for "Content-type: text/markdown".
    static std::string TypeLine();

    // `plainText`: the merged Markdown, the text/plain part; the text/html part is
    // `markdown` rendered for the entry as RenderMergedHtml does, its local images as
    // inline parts. `messageId` ("<...>") makes the Content-IDs unique. Throws
    // ComposeError when an image file cannot be read.
    std::vector<std::string> build(const std::vector<std::string>& plainText,
                                   const FieldIndex& fields, const std::string& markdown,
                                   const Person& entry, std::string_view messageId);

private:
    struct Image {
        std::string type;
        std::string fileName;
        std::vector<std::string> base64;
    };
    const Image& image(const std::string& path);

    std::string folder_;
    std::map<std::string, std::unique_ptr<Image>> images_;
};

} // namespace tandrel
