// SPDX-License-Identifier: GPL-3.0-or-later
// Markdown to HTML with md4c, merged values kept as text, inline images.
#include "merge/Formatted.h"

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>

#include <md4c-html.h>

#include "merge/Encoding.h"
#include "merge/Fallback.h"
#include "merge/Merge.h"
#include "merge/Mime.h"
#include "merge/StandIns.h"

namespace tandrel {

namespace {

constexpr unsigned kParserFlags = MD_DIALECT_GITHUB;
constexpr std::string_view kAltBoundary = "altbound";
constexpr std::string_view kRelatedBoundary = "relbound";

std::string RenderMarkdown(const std::string& markdown) {
    std::string html;
    md_html(
        markdown.data(), static_cast<MD_SIZE>(markdown.size()),
        [](const MD_CHAR* text, MD_SIZE size, void* out) {
            static_cast<std::string*>(out)->append(text, size);
        },
        &html, kParserFlags, MD_HTML_FLAG_SKIP_UTF8_BOM);
    return html;
}

// The Markdown merged with stand-ins for the values, rendered.
std::string RenderWithStandIns(const FieldIndex& index, std::string markdown,
                               const Person& entry, StandIns& standIns) {
    Person between;
    between.setName(standIns.add(entry.name(), "name"));
    between.setEmail(standIns.add(entry.email(), "email"));
    const std::size_t pairs = PairedFields(index.fields().size(), entry);
    for (std::size_t k = 0; k < pairs; ++k)
        between.values.push_back(standIns.add(ValueOf(entry, k), index.fields()[k].name));
    MergePlaceholders(index, entry, between, markdown,
                      [&](std::string& out, const std::string& value, std::string_view field) {
                          out += standIns.add(value, std::string(field));
                      });
    return RenderMarkdown(markdown);
}

// An image source as the HTML holds it: `written` with its character references
// decoded, `decoded` with its %-escapes decoded too (a path).
struct ImageSource {
    std::string written;
    std::string decoded;
};

ImageSource DecodeAttribute(std::string_view value) {
    std::string text;
    for (std::size_t i = 0; i < value.size(); ++i) {
        bool replaced = false;
        for (auto [entity, c] : {std::pair<std::string_view, char>{"&amp;", '&'},
                                 {"&quot;", '"'},
                                 {"&lt;", '<'},
                                 {"&gt;", '>'},
                                 {"&#39;", '\''}})
            if (value.substr(i, entity.size()) == entity) {
                text += c;
                i += entity.size() - 1;
                replaced = true;
                break;
            }
        if (!replaced) text += value[i];
    }
    std::string out;
    auto hex = [](char c) {
        return c >= '0' && c <= '9'   ? c - '0'
               : c >= 'a' && c <= 'f' ? c - 'a' + 10
               : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                      : -1;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 &&
            hex(text[i + 2]) >= 0) {
            out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return ImageSource{std::move(text), std::move(out)};
}

bool HoldsControl(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

std::string ImageTypeOf(std::string_view path) {
    const std::size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || path.find('/', dot) != std::string_view::npos) return {};
    std::string ext(path.substr(dot + 1));
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (ext == "png" || ext == "gif" || ext == "bmp" || ext == "webp") return "image/" + ext;
    if (ext == "jpg" || ext == "jpeg") return "image/jpeg";
    if (ext == "svg") return "image/svg+xml";
    return {};
}

// A source that names a file beside the mail: relative, no scheme, query or "..", and
// no control character, which the file system would read otherwise than it shows
// ("a%00.png" opens "a").
bool IsLocalImageSource(std::string_view src) {
    if (src.empty() || src.front() == '/' ||
        src.find_first_of(":?#[\\") != std::string_view::npos || HoldsControl(src))
        return false;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = std::min(src.find('/', start), src.size());
        if (src.substr(start, slash - start) == "..") return false;
        if (slash == src.size()) break;
        start = slash + 1;
    }
    return !ImageTypeOf(src).empty();
}

// Calls `replacement` with the source of every <img src="...">; when it gives a text,
// that becomes the source.
void RewriteImageSources(
    std::string& html,
    const std::function<std::optional<std::string>(const ImageSource&)>& replacement) {
    constexpr std::string_view kOpen = "<img src=\"";
    std::string out;
    std::size_t done = 0;
    for (std::size_t p = html.find(kOpen); p != std::string::npos; p = html.find(kOpen, p + 1)) {
        const std::size_t begin = p + kOpen.size();
        const std::size_t end = html.find('"', begin);
        if (end == std::string::npos) break;
        const std::optional<std::string> src =
            replacement(DecodeAttribute(std::string_view(html).substr(begin, end - begin)));
        if (!src) continue;
        out.append(html, done, begin - done);
        out += EscapeHtml(*src);
        done = end;
    }
    if (done == 0) return;
    out.append(html, done);
    html.swap(out);
}

std::string HtmlDocument(const std::string& fragment) {
    return "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n</head>\n<body>\n" +
           fragment + "</body>\n</html>\n";
}

std::string AsUtf8(const std::string& text) {
    return IsValidUtf8(text) ? text : Windows1252ToUtf8(text);
}

// The `<...>` of the Message-ID without the brackets.
std::string_view IdInside(std::string_view messageId) {
    if (messageId.size() >= 2 && messageId.front() == '<' && messageId.back() == '>')
        return messageId.substr(1, messageId.size() - 2);
    return messageId;
}

void AppendQuotedPrintablePart(std::vector<std::string>& lines, std::string_view boundary,
                               std::string_view type, const std::vector<std::string>& text) {
    lines.push_back("--" + std::string(boundary));
    lines.push_back("Content-Type: " + std::string(type) + "; charset=utf-8");
    lines.emplace_back("Content-Transfer-Encoding: quoted-printable");
    lines.emplace_back();
    std::vector<std::string> qp = QuotedPrintableLines(text);
    lines.insert(lines.end(), std::make_move_iterator(qp.begin()),
                 std::make_move_iterator(qp.end()));
}

} // namespace

std::string RenderMergedHtml(const std::vector<Field>& fields, const std::string& markdown,
                             const Person& entry) {
    StandIns standIns(markdown);
    return standIns.putBack(RenderWithStandIns(FieldIndex(fields), markdown, entry, standIns));
}

std::vector<LeftOutAddress> LeftOutAddresses(const FieldIndex& fields, const std::string& markdown,
                                             const Person& entry) {
    StandIns standIns(markdown);
    std::vector<LeftOutAddress> leftOut;
    standIns.putBack(RenderWithStandIns(fields, markdown, entry, standIns), &leftOut);
    return leftOut;
}

bool ValuesMayMakeAddresses(const FieldIndex& fields, const std::string& markdown) {
    // No scheme that is kept holds "xx", so this value is left out wherever a value
    // takes part in a scheme, or makes an autolink, and nowhere else.
    const std::string probe = "xx:";
    Person entry;
    entry.setName(probe);
    entry.setEmail(probe);
    entry.values.assign(fields.fields().size(), probe);
    return !LeftOutAddresses(fields, markdown, entry).empty();
}

std::string FormattedPreviewHtml(const std::vector<Field>& fields, const MailText& mail,
                                 const Person& entry) {
    auto bodyStart = mail.lines.begin();
    if (mail.hasHeader) {
        const auto end = std::find(mail.lines.begin(), mail.lines.end(), std::string());
        if (end != mail.lines.end()) bodyStart = end + 1;
    }
    const std::string body =
        AsUtf8(JoinLines(std::vector<std::string>(bodyStart, mail.lines.end())));
    Person utf8 = entry;
    utf8.convertTexts([](std::string& text) { text = AsUtf8(text); });
    return HtmlDocument(RenderMergedHtml(fields, body, utf8));
}

std::vector<std::string> InlineImagePaths(const std::string& markdownBody,
                                          const std::string& folder) {
    std::vector<std::string> paths;
    std::string html = RenderMarkdown(markdownBody);
    RewriteImageSources(html, [&](const ImageSource& src) -> std::optional<std::string> {
        if (IsLocalImageSource(src.decoded)) {
            std::string path = folder + "/" + src.decoded;
            if (std::find(paths.begin(), paths.end(), path) == paths.end())
                paths.push_back(std::move(path));
        }
        return std::nullopt;
    });
    return paths;
}

std::vector<std::string> ImageSourcesWithControls(const std::string& markdownBody) {
    std::vector<std::string> sources;
    std::string html = RenderMarkdown(markdownBody);
    RewriteImageSources(html, [&](const ImageSource& src) -> std::optional<std::string> {
        if (HoldsControl(src.decoded) && SchemeOf(src.decoded).empty() &&
            std::find(sources.begin(), sources.end(), src.written) == sources.end())
            sources.push_back(src.written);
        return std::nullopt;
    });
    return sources;
}

std::string MailFolder(const std::string& mailPath) {
    const std::size_t slash = mailPath.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : mailPath.substr(0, slash);
}

FormattedBodyBuilder::FormattedBodyBuilder(std::string imageFolder)
    : folder_(std::move(imageFolder)) {}

FormattedBodyBuilder::~FormattedBodyBuilder() = default;

std::string FormattedBodyBuilder::TypeLine() {
    return "Content-Type: multipart/alternative; boundary=" + std::string(kAltBoundary);
}

const FormattedBodyBuilder::Image& FormattedBodyBuilder::image(const std::string& path) {
    auto it = images_.find(path);
    if (it != images_.end()) return *it->second;
    const std::string problem = AttachmentProblem(path);
    std::ifstream in(path, std::ios::binary);
    std::string bytes;
    if (problem.empty() && in)
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!problem.empty() || in.bad())
        throw ComposeError("The image file " + OneLine(path) + " " +
                           (problem.empty() ? "cannot be read" : problem));
    auto img = std::make_unique<Image>();
    img->type = ImageTypeOf(path);
    img->fileName = FileNameOfPath(path);
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    for (std::size_t at = 0; at < bytes.size(); at += kBase64LineBytes)
        img->base64.push_back(
            EncodeBase64Chunk(data + at, std::min(kBase64LineBytes, bytes.size() - at)));
    return *images_.emplace(path, std::move(img)).first->second;
}

std::vector<std::string> FormattedBodyBuilder::build(const std::vector<std::string>& plainText,
                                                     const FieldIndex& fields,
                                                     const std::string& markdown,
                                                     const Person& entry,
                                                     std::string_view messageId) {
    StandIns standIns(markdown);
    std::string html = RenderWithStandIns(fields, markdown, entry, standIns);
    struct Used {
        const Image* image;
        std::string contentId;
    };
    std::vector<std::pair<std::string, Used>> used; // by path, in order of first use
    RewriteImageSources(html, [&](const ImageSource& src) -> std::optional<std::string> {
        if (standIns.holdsOne(src.decoded) || !IsLocalImageSource(src.decoded)) return std::nullopt;
        const std::string path = folder_ + "/" + src.decoded;
        for (const auto& [p, u] : used)
            if (p == path) return "cid:" + u.contentId;
        const std::string id =
            "img" + std::to_string(used.size() + 1) + "." + std::string(IdInside(messageId));
        used.push_back({path, Used{&image(path), id}});
        return "cid:" + id;
    });
    html = HtmlDocument(standIns.putBack(html));

    std::vector<std::string> lines;
    AppendQuotedPrintablePart(lines, kAltBoundary, "text/plain", plainText);
    if (used.empty()) {
        AppendQuotedPrintablePart(lines, kAltBoundary, "text/html", SplitLines(html));
    } else {
        lines.push_back("--" + std::string(kAltBoundary));
        lines.push_back("Content-Type: multipart/related; type=\"text/html\"; boundary=" +
                        std::string(kRelatedBoundary));
        lines.emplace_back();
        AppendQuotedPrintablePart(lines, kRelatedBoundary, "text/html", SplitLines(html));
        for (const auto& [path, u] : used) {
            lines.push_back("--" + std::string(kRelatedBoundary));
            lines.push_back("Content-Type: " + u.image->type + "; " +
                            FileNameParameter("name", u.image->fileName));
            lines.emplace_back("Content-Transfer-Encoding: base64");
            lines.push_back("Content-ID: <" + u.contentId + ">");
            lines.push_back("Content-Disposition: inline; " +
                            FileNameParameter("filename", u.image->fileName));
            lines.emplace_back();
            lines.insert(lines.end(), u.image->base64.begin(), u.image->base64.end());
        }
        lines.push_back("--" + std::string(kRelatedBoundary) + "--");
    }
    lines.push_back("--" + std::string(kAltBoundary) + "--");
    return lines;
}

} // namespace tandrel
