// The database with its field list as a document: what New, Open and Save do to it,
// whether it differs from its files, and which files they are. The windows show and
// edit the entries; this object decides what is loaded, written and remembered.
#pragma once

#include <string>
#include <vector>

#include "AppState.h"

namespace tandrel {

// The one rule for loading a database with its field list, for the window and the
// command line alike: a .csv file names its fields in its header row; any other file
// needs the field list first, and is read through it with the delimiter of the settings.
enum class DatabaseLoad { Loaded, NeedsFieldList };
// Loads `fieldsPath` (when given) and then `databasePath` into `st`. NeedsFieldList,
// with nothing loaded, for a database in the program's format when there is no field
// list, or one without fields. Throws FileError when a file cannot be read.
DatabaseLoad LoadDatabaseFiles(AppState& st, const std::string& databasePath,
                               const std::string& fieldsPath);

class DatabaseDocument {
public:
    // The database and the paths of its last files live in `st`, where the mailing and
    // the settings read them.
    explicit DatabaseDocument(AppState& st) : st_(st) {}

    // Null while there is no database at all (an empty one is a database).
    DatabaseRoot* database() const { return st_.db.get(); }

    // New Database: the fields "name" and "email" and nobody; untitled and unchanged.
    void startNew();
    // Opens a database file: NeedsFieldList (and nothing happens) when it is in the
    // program's format and no field list is loaded. Throws FileError; the document keeps
    // what it had then.
    DatabaseLoad open(const std::string& path);
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
    // field list to `fieldsPath`. Throws FileError.
    void save(const std::string& path, const std::string& fieldsPath);
    // Whether saving to `path` also needs a field list file.
    static bool needsFieldFile(const std::string& path);

    // Whatever was last loaded or saved counts as unchanged.
    void markSaved();
    bool changed() const;

    // A new database has no file yet: Save asks for names.
    bool untitled() const { return untitled_; }
    // Empty while untitled.
    std::string path() const { return untitled_ ? std::string() : st_.user.lastdb; }
    std::string fieldsPath() const { return untitled_ ? std::string() : st_.user.lastfields; }

private:
    struct Snapshot {
        bool exists = false;
        std::vector<std::string> fields;
        std::vector<std::vector<std::string>> entries;
    };
    Snapshot snapshot() const;

    AppState& st_;
    Snapshot saved_;
    bool untitled_ = true;
};

} // namespace tandrel
