// SPDX-License-Identifier: GPL-3.0-or-later
// The database with its field list as a document: what New, Open and Save do to it,
// whether it differs from its files, and which files they are. The windows show and
// edit the entries; this object decides what is loaded, written and remembered.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "model/AppState.h"
#include "model/CsvFile.h"

namespace tandrel {

// The one rule for loading a database with its field list, for the window and the
// command line alike: a .csv file has a header row naming its fields, unless its first
// row already holds a person (an e-mail address); that file, and any file not named
// .csv, is in the program's own format and is read through the field list with the
// delimiter of the settings. A header row never becomes a person.
enum class DatabaseFormat { Program, Csv };
DatabaseFormat DatabaseFormatOf(const std::string& path);

enum class DatabaseLoad { Loaded, NeedsFieldList };
// Loads `fieldsPath` (when given) and then `databasePath` into `st`. NeedsFieldList,
// with nothing loaded, for a database in the program's format when there is no field
// list, or one without fields. A CSV file's addresses are in the column called
// `emailColumn`, or, when that is empty, in the one LoadCsvDatabase finds by its name;
// `taken`, when given, is told which columns were taken. Throws NoAddressColumn when
// there is none, FileError when a file cannot be read. The text encoding of what was
// read becomes the database's.
DatabaseLoad LoadDatabaseFiles(AppState& st, const std::string& databasePath,
                               const std::string& fieldsPath, const std::string& emailColumn = {},
                               CsvColumnsTaken* taken = nullptr);

class DatabaseDocument {
public:
    // The database and the paths of its last files live in `st`, where the mailing and
    // the settings read them.
    explicit DatabaseDocument(AppState& st) : st_(st) {}

    // Null while there is no database at all (an empty one is a database).
    Database* database() const { return st_.db.get(); }

    // New Database: the fields "name" and "email" and nobody; untitled and unchanged.
    void startNew();
    // Opens a database file: NeedsFieldList (and nothing happens) when it is in the
    // program's format and no field list is loaded. A CSV file's addresses are read from
    // the column called `emailColumn`, when given. Throws NoAddressColumn when a CSV
    // file has no column of addresses, FileError; the document keeps what it had then.
    DatabaseLoad open(const std::string& path, const std::string& emailColumn = {});
    // The columns the last CSV file opened or restored took the addresses and names from.
    const CsvColumnsTaken& columnsTaken() const { return columnsTaken_; }
    // True when `path` is in the program's format and no field list is loaded to read it.
    bool lacksFieldListFor(const std::string& path) const;
    // Replaces the field list; the people stay. Throws FileError.
    void openFields(const std::string& path);
    // At start-up: the last database with its field list, where their files are there.
    void restoreLast();

    // Save As for each part. Throw FileError; nothing changes then.
    void saveAs(const std::string& path);
    void saveFieldsAs(const std::string& path);
    // Save: the database to `path` and, unless that file names its own fields (CSV), the
    // field list to `fieldsPath`. Its own file keeps the format it was read in; another
    // file gets the format its name says. Throws FileError.
    void save(const std::string& path, const std::string& fieldsPath);
    // Whether saving to `path` also needs a field list file.
    bool needsFieldFile(const std::string& path) const;

    // Text typed for the database as bytes in its encoding. A character that encoding
    // lacks first turns the whole database into UTF-8 and calls onSwitchedToUtf8.
    std::string bytesFor(std::string_view utf8);
    std::function<void()> onSwitchedToUtf8;

    // Whatever was last loaded or saved counts as unchanged.
    void markSaved();
    bool changed() const;

    // A new database has no file yet: Save asks for names.
    bool untitled() const { return untitled_; }
    // Empty while untitled.
    std::string path() const { return untitled_ ? std::string() : st_.user.lastDatabase; }
    std::string fieldsPath() const { return untitled_ ? std::string() : st_.user.lastFields; }

private:
    // What the people looked like when last loaded or saved. Their values are kept as a
    // digest, not a copy: a copy would double the memory of a large database for the
    // one question whether it changed.
    struct Snapshot {
        bool exists = false;
        std::vector<std::string> fields;
        std::size_t entryCount = 0;
        std::array<unsigned char, 32> valuesDigest{};
    };
    Snapshot snapshot() const;
    DatabaseFormat formatFor(const std::string& path) const;
    DatabaseLoad load(const std::string& databasePath, const std::string& fieldsPath,
                      DatabaseFormat format, const std::string& emailColumn);

    AppState& st_;
    Snapshot saved_;
    bool untitled_ = true;
    DatabaseFormat format_ = DatabaseFormat::Program; // of its own file
    CsvColumnsTaken columnsTaken_;
};

} // namespace tandrel
