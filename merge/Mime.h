// MIME multipart/mixed attachment parts and base64.
#pragma once

#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "Model.h"

namespace tandrel {

// A message that cannot be composed (a text attachment that cannot be read,
// attachments on a mail without a header block). The text names the file or problem.
class ComposeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Content type from the file name's extension ("application/octet-stream" by default).
std::string ContentTypeOf(std::string_view fileName);

// One base64 line for up to 57 bytes.
std::string EncodeBase64Chunk(const unsigned char* bytes, std::size_t count);

} // namespace tandrel
