// SPDX-License-Identifier: GPL-3.0-or-later
// The edits that the database editor, the fields dialog and the add dialog make to the
// database, kept apart from the widgets so they can be checked on their own.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "model/Model.h"

namespace tandrel {

// Prefix of the lines that show values lying beyond the last field.
inline constexpr const char* kExtraValuePrefix = "(extra) ";

// The lines of the editor's field list for one entry: for each field its name, followed
// by one space and the value when the entry has a value at that position; then one
// "(extra) value" line for every value beyond the last field.
std::vector<std::string> FieldLines(const Database& db, const Person& entry);

// The column the add dialog writes a person's name (or e-mail) into: the last field
// named exactly `fieldName`, or 0 when there is none.
std::size_t AddPosition(const Database& db, const std::string& fieldName);

// Appends a person with the given name and e-mail. With fields, the entry gets one empty
// value per field, then the name at the "name" position and the e-mail at the "email"
// position (the e-mail wins when both positions coincide). Without fields it gets none.
Person& AddPerson(Database& db, const std::string& name, const std::string& email);

// Sets the entry's value for field k (k must be a field), appending empty values where the
// list ends before k. A field named exactly "name" or "email" also sets the entry's own
// name or e-mail. Returns false (and changes nothing) when k is not a field.
bool SetEntryValue(Database& db, Person& entry, std::size_t k, const std::string& text);

// Appends a field; an empty name is refused. No entry's values change.
bool AppendField(Database& db, const std::string& name);

// Renames field k. The fields named exactly "name" and "email" keep their names, and k
// must be a field. Values stay where they are.
bool RenameField(Database& db, std::size_t k, const std::string& newName);

// Valid UTF-8 in every field name and value (as in the file they came from: the
// separators are ASCII) is UTF-8; anything else is Windows-1252.
TextEncoding DetectDatabaseEncoding(const Database& db);

// Rewrites every field name and value (and the entries' names and e-mails) from the
// database's encoding into UTF-8, and makes UTF-8 its encoding.
void ConvertDatabaseToUtf8(Database& db);

// Removes each of the given entries (by identity); entries no longer in the database are
// skipped. Returns the number removed.
std::size_t RemoveEntries(Database& db, const std::vector<const Person*>& victims);

} // namespace tandrel
