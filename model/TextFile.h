// SPDX-License-Identifier: GPL-3.0-or-later
// Plain text files as the program reads and writes them: bytes in, bytes out.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tandrel {

// Splits text into lines: CR, LF and CR LF end a line; a NUL byte ends the text;
// a line break at the very end adds no empty line.
std::vector<std::string> SplitTextLines(std::string_view text);

// The same without the NUL rule, for text held in memory (a merged message keeps NULs).
std::vector<std::string> SplitAtLineEnds(std::string_view text);

enum class FileReadResult { Ok, Missing, Failed };
// Reads a regular file whole into `out`. Anything else (a pipe would block the program
// on opening, a device such as /dev/zero would be read without end) is Failed.
FileReadResult ReadRegularFile(const std::string& path, std::string& out);

// Every line followed by CR LF, as one text.
std::string JoinCrLf(const std::vector<std::string>& lines);

// Reads a whole file as lines. Throws FileError("Cannot open file <path>").
std::vector<std::string> ReadTextFile(const std::string& path);

// Reads a file the user opens as text (database, fields, mail) whole, as bytes.
// Throws FileError("Cannot open file <path>"), FileError("<path> is a UTF-16 text
// file: save it as UTF-8"), or FileError("<path> is not a text file: it contains NUL
// bytes"): a NUL would otherwise end the text silently, and a later save would make that
// loss permanent.
std::string ReadUserTextFile(const std::string& path);

// The same file's lines, split as SplitAtLineEnds does, handed to `line` one at a time
// as the file is read in pieces: a big file is never held whole. Throws as
// ReadUserTextFile, possibly after some lines were handed out.
void ReadUserTextLines(const std::string& path, const std::function<void(std::string_view)>& line);

// Writes every line followed by CR LF, replacing the file safely (see SafeFile.h).
// Throws FileError("Cannot create file <path>: <reason>"); the old file is unchanged.
void WriteTextFile(const std::string& path, const std::vector<std::string>& lines);

// Appends every line followed by CR LF (creating the file). Throws like WriteTextFile;
// a failed append leaves the earlier content as it was.
void AppendTextFile(const std::string& path, const std::vector<std::string>& lines);

// "Cannot create file <path>: <the system's reason for err>".
std::string CannotCreateMessage(const std::string& path, int err);

bool FileExists(const std::string& path);

} // namespace tandrel
