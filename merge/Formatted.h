// Formatted mail: a Markdown body sent as text/plain (as written, merged) beside
// text/html rendered from it, with the local images it shows as inline parts.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Merge.h"
#include "Model.h"

namespace tandrel {

// The HTML of a Markdown text merged for the entry. Placeholders are merged before
// rendering, but as stand-ins that no Markdown rule touches; the values (and fallback
// texts) replace them afterwards HTML-escaped, so a value is always text, never
// markup. The text and values are taken as UTF-8.
std::string RenderMergedHtml(const std::vector<VarIdent>& fields, const std::string& markdown,
                             const ReceipData& entry);

// A whole HTML document of the mail's body merged for the entry, for the preview;
// images keep the sources written in the Markdown (relative to the mail's folder).
// Windows-1252 text and values are converted to UTF-8 as in a message.
std::string FormattedPreviewHtml(const std::vector<VarIdent>& fields, const MailText& mail,
                                 const ReceipData& entry);

// The image files the body of a Markdown mail shows that go out as inline parts: every
// image source that is a relative path without ".." and names an image type, as a
// path under `folder`. Sources built from values are taken as written, never as files.
std::vector<std::string> InlineImagePaths(const std::string& markdownBody,
                                          const std::string& folder);

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
                                   const ReceipData& entry, std::string_view messageId);

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
