// Writing files so that a failure never leaves a half-written file behind: whole files
// are replaced through a temporary file, appends are rolled back when they fail.
#pragma once

#include <string>
#include <string_view>

namespace tandrel {

// Replaces the content of the file at `path` (following a symbolic link to the file it
// names) by `data`: written to a new file in the same folder, flushed to the disk and
// renamed over the old one, whose permissions it takes. When the folder takes no new
// file but the file itself may be written, it is rewritten in place and restored on
// failure. Returns 0, or the errno value saying why it failed; the old file then still
// holds its old bytes and no temporary file is left.
int ReplaceFileContent(const std::string& path, std::string_view data);

// Appends `data` to the file (creating it), flushed to the disk. On failure the file is
// cut back to its earlier length. Returns 0 or the errno value.
int AppendFileContent(const std::string& path, std::string_view data);

// The system's text for an errno value ("No space left on device").
std::string SystemReason(int err);

} // namespace tandrel
