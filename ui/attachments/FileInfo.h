// SPDX-License-Identifier: GPL-3.0-or-later
// Examining attachment files: size and content type for the attachments window, and
// the lines of the file test. Plain C++, no widgets.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/Model.h"

namespace tandrel {

// The result of examining one file. Sizes are 64-bit so that files beyond 2 GiB are
// reported with their real size instead of an overflowed one.
struct ExaminedFile {
    std::int64_t size = -1; // -1: the file cannot be opened for reading or sized
    std::string sizeText;
    std::string typeText;
};

// Opens the file read-only and takes its size. Anything that is not a readable regular
// file (missing, no read permission, a directory, a device) gives size -1 and empty texts.
ExaminedFile ExamineFile(const std::string& path, const std::string& decimalSeparator);

// "0" below 1 byte, plain bytes up to 1023, otherwise Kb, Mb or Gb with two decimals
// after rounding to four significant digits (1536 -> "1.50Kb", 150000 -> "146.50Kb").
std::string SizeToText(std::int64_t bytes, const std::string& decimalSeparator);

// One line of the file test: "<path> does not exist", "<path> found - could not access
// file" or "<path> found - size: <size> - type: <type>".
std::string TestFileLine(const std::string& path, const std::string& decimalSeparator);

// True when the path holds at least one "[" and one "]", in any order: it may hold
// placeholders and is tested once per database entry.
bool PathHasPlaceholders(const std::string& path);

// One line of the file test and whom it is for.
struct FileTestRow {
    std::string person;  // the entry's name (or e-mail) for a merged path; empty otherwise
    std::string line;    // as TestFileLine words it
    bool usable = false; // the file exists and can be read
};

// The file test for the whole attachment list: one row per attachment, or, for a path
// with placeholders and a database with entries, one per entry with the path merged for
// that entry. `db` may be null (no database).
std::vector<FileTestRow> FileTestRows(const std::vector<Attachment>& attachments,
                                      const Database* db, const std::string& decimalSeparator);

// The lines of the file test for the whole attachment list: one per attachment, or,
// for a path with placeholders and a database with entries, one per entry with the
// path merged for that entry. `db` may be null (no database).
std::vector<std::string> FileTestLines(const std::vector<Attachment>& attachments,
                                       const Database* db, const std::string& decimalSeparator);

} // namespace tandrel
