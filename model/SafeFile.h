// SPDX-License-Identifier: GPL-3.0-or-later
// Writing files so that a failure never leaves a half-written file behind: whole files
// are replaced through a temporary file, appends are rolled back when they fail.
#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>

namespace tandrel {

// The system calls a whole-file replacement is made of. The plain object makes the real
// calls; a test derives from it to record their order or to make one of them fail.
// Each returns what the system call returns and leaves errno set on failure.
class FileCalls {
public:
    virtual ~FileCalls() = default;
    virtual int open(const char* path, int flags, mode_t mode);
    virtual ssize_t write(int fd, const void* data, std::size_t size);
    virtual int fsync(int fd);
    virtual int close(int fd);
    virtual int rename(const char* from, const char* to);
    virtual int unlink(const char* path);
};

// Replaces the content of the file at `path` (following a symbolic link to the file it
// names) by `data`: written to a new file in the same folder, flushed to the disk and
// renamed over the old one, whose permissions it takes. When the folder takes no new
// file but the file itself may be written, it is rewritten in place and restored on
// failure. Returns 0, or the errno value saying why it failed; the old file then still
// holds its old bytes and no temporary file is left.
// The data reaches the disk before the rename, and the rename before the function
// returns (the folder is flushed too), so a crash at any moment leaves the old or the
// new content, never a mix.
int ReplaceFileContent(const std::string& path, std::string_view data);
int ReplaceFileContent(const std::string& path, std::string_view data, FileCalls& calls);

// Puts a new file holding `data` under `path`: written to a new file beside it and
// renamed over the name, so that a symbolic link there is replaced, never followed, and
// the file gets the permissions the umask gives any new file. Not flushed to the disk:
// for files that are simply made again when lost. A folder, pipe or device under the
// name is left alone (EISDIR, EINVAL). Returns 0 or the errno value; no temporary file is
// left on failure.
int WriteFileOverName(const std::string& path, std::string_view data);

// Appends `data` to the file (creating it), flushed to the disk. On failure the file is
// cut back to its earlier length. Returns 0 or the errno value.
int AppendFileContent(const std::string& path, std::string_view data);

// The system's text for an errno value ("No space left on device").
std::string SystemReason(int err);

} // namespace tandrel
