// SPDX-License-Identifier: GPL-3.0-or-later
// MIME multipart/mixed attachment parts and base64.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "merge/Gauge.h"
#include "merge/Merge.h"
#include "model/MessageLines.h"
#include "model/Model.h"

namespace tandrel {

// The fixed MIME boundary word.
inline constexpr std::string_view kBoundary = "partbound";
inline constexpr std::size_t kBase64LineBytes = 57;  // file bytes per base64 line
inline constexpr std::size_t kBase64LineLength = 76; // characters of a full line

// Why the file at `path` cannot be attached ("does not exist", "is a folder, not a
// file", ...), or "" for a regular file that can be read.
std::string AttachmentProblem(const std::string& path);

// Content type from the file name's extension ("application/octet-stream" by default).
std::string ContentTypeOf(std::string_view fileName);

// One base64 line for up to 57 bytes.
std::string EncodeBase64Chunk(const unsigned char* bytes, std::size_t count);

// Encodes `count` bytes as base64 into `out`, which has room for 4 * ceil(count / 3)
// characters; returns the number of characters written.
std::size_t EncodeBase64(const unsigned char* bytes, std::size_t count, char* out);

// Appends `count` bytes as base64 lines of 57 bytes each (76 characters), the last
// line holding what remains.
void AppendBase64Lines(LineBlock& block, const unsigned char* bytes, std::size_t count);

// Number of base64 lines for a file of `bytes` bytes.
constexpr std::uint64_t Base64LineCount(std::uint64_t bytes) {
    return (bytes + kBase64LineBytes - 1) / kBase64LineBytes;
}

// Makes a composed message multipart: its "Content-type: text/plain" header line
// (letter case ignored), or the multipart/alternative line of formatted mail, becomes the
// multipart/mixed line, and the preamble and the first part's header follow the empty line that
// ends the header block. Throws ComposeError when the message has no such header.
void MakeMultipart(std::vector<std::string>& lines);

// The attachment path for one recipient: merged with the entry (fallbacks included)
// when it holds at least one "[" and one "]". When the path names a folder before its first
// placeholder
// ("invoices/[invoice].pdf"), a value that reaches the path may not lead out of it: one
// holding "/" or "\\", or being "." or "..", leaves `path` empty and says so in
// `problem` (naming the value; the caller names the person). A path that begins with
// its placeholder ("[file]") takes whole paths, but none with a hidden part (a folder
// or file name beginning with "." that the path as written does not hold): values
// could otherwise pick a key or a password file; `hiddenPart` then tells that
// problem. Throws ComposeError when the merge grows beyond its limit.
struct PersonalPath {
    std::string path;
    std::string problem;
    bool hiddenPart = false;
};
PersonalPath AttachmentPathOf(const std::string& path, const FieldIndex& fields,
                              const Person& entry);

// Whether the values choose the whole path: it holds a placeholder and names no folder
// before it ("[file]", "[name].pdf").
bool ValuesChooseWholePath(std::string_view path);

// AttachmentPathOf's path; throws ComposeError naming the person and the value instead
// of a path that would lead out of its folder.
std::string AttachmentPathFor(const std::string& path, const FieldIndex& fields,
                              const Person& entry);

// One attachment's body. Image and application types: AddBase64Body. Text types: an
// empty line and the file's lines unchanged, or base64 like the other types when the
// file holds non-ASCII or NUL bytes, a bare CR, a line over 998 octets or a boundary
// line (the part's header then names the charset); throws
// ComposeError when the file cannot be read or is too large for one part.
void AddAttachmentBody(LineBlock& block, const std::string& path, const std::string& type,
                       PrepGauge* gauge = nullptr);
void AddAttachmentBody(std::vector<std::string>& lines, const std::string& path,
                       const std::string& type);

// Base64 body: the transfer-encoding line, an empty line and one line per 57 bytes.
// Throws ComposeError naming the file when it is missing, no regular file, cannot be
// read whole, or is too large for one part (about 3 GB; before anything is read).
void AddBase64Body(LineBlock& block, const std::string& path, PrepGauge* gauge = nullptr);
void AddBase64Body(std::vector<std::string>& lines, const std::string& path);

// The whole part of one attachment (path already merged): the boundary line, the
// Content-type and Content-Disposition lines and the body.
void AddAttachmentPart(LineBlock& block, const std::string& path, PrepGauge* gauge = nullptr);

// Makes `lines` multipart and appends every attachment's part, read and encoded for
// this message alone, and the closing boundary line.
void AddAttachmentParts(const std::vector<Field>& fields, const Person& entry,
                        const std::vector<Attachment>& attachments, std::vector<std::string>& lines,
                        PrepGauge* gauge = nullptr);

// The attachment parts of a whole run. Each distinct merged path is read and encoded
// once; every message that uses it shares the same block of lines. A path with a
// placeholder (each person's own file) is only counted: its part is a deferred one,
// read and encoded while the message is read for sending, giving the same lines. The
// gauge moves for a shared or deferred part exactly as if it had been encoded.
class AttachmentSet {
public:
    AttachmentSet(const std::vector<Field>& fields, const std::vector<Attachment>& attachments);

    // The complete message from the lines of ComposeMessage: unchanged without
    // attachments, otherwise multipart with every attachment's part.
    MessageLines compose(std::vector<std::string> composed, const Person& entry,
                         PrepGauge* gauge = nullptr);

    // Distinct parts encoded or counted so far.
    std::size_t encodedParts() const { return cache_.size(); }

private:
    struct Part {
        SharedBlock block;
        DeferredPtr deferred; // instead of block: read and encoded as it is sent
        bool base64 = false;  // the body has the transfer-encoding header
        std::uint64_t fileSize = 0;
        std::uint64_t dataLines = 0;
    };
    // Encoded now, or for `own` (a person's own file) only counted.
    Part prepare(const std::string& path, bool own, PrepGauge* gauge);

    FieldIndex fields_;
    const std::vector<Attachment>& attachments_;
    std::unordered_map<std::string, Part> cache_;
    SharedBlock closing_;
};

} // namespace tandrel
