// Loading, saving and the unsaved-change rule of the database and its field list.
#include "DatabaseDocument.h"

#include "CsvFile.h"
#include "DatabaseFile.h"
#include "FieldFile.h"
#include "TextFile.h"

namespace tandrel {

DatabaseLoad LoadDatabaseFiles(AppState& st, const std::string& databasePath,
                               const std::string& fieldsPath) {
    if (IsCsvPath(databasePath)) {
        LoadCsvDatabase(st, databasePath);
        return DatabaseLoad::Loaded;
    }
    if (!fieldsPath.empty()) LoadFields(st, fieldsPath);
    if (!st.db || st.db->fields.empty()) return DatabaseLoad::NeedsFieldList;
    LoadDatabase(st, databasePath);
    return DatabaseLoad::Loaded;
}

void DatabaseDocument::startNew() {
    st_.FreeDatabase();
    st_.NewDatabase();
    untitled_ = true;
    markSaved();
}

DatabaseLoad DatabaseDocument::open(const std::string& path) {
    if (LoadDatabaseFiles(st_, path, std::string()) == DatabaseLoad::NeedsFieldList)
        return DatabaseLoad::NeedsFieldList;
    untitled_ = false;
    markSaved();
    return DatabaseLoad::Loaded;
}

bool DatabaseDocument::lacksFieldListFor(const std::string& path) const {
    return !IsCsvPath(path) && (!st_.db || st_.db->fields.empty());
}

void DatabaseDocument::openFields(const std::string& path) {
    LoadFields(st_, path);
    markSaved();
}

void DatabaseDocument::restoreLast() {
    const std::string db = st_.user.lastdb;
    const std::string fields = st_.user.lastfields;
    const bool dbThere = !db.empty() && FileExists(db);
    if (dbThere && IsCsvPath(db)) {
        LoadDatabaseFiles(st_, db, std::string());
        untitled_ = false;
    } else if (!fields.empty() && FileExists(fields)) {
        if (!dbThere)
            LoadFields(st_, fields);
        else if (LoadDatabaseFiles(st_, db, fields) == DatabaseLoad::Loaded)
            untitled_ = false;
    }
    markSaved();
}

void DatabaseDocument::saveAs(const std::string& path) {
    if (IsCsvPath(path)) {
        SaveCsvDatabase(st_, path);
        untitled_ = false;
        markSaved();
        return;
    }
    SaveDatabase(st_, path);
    // The people's file holds no field names: the field list keeps its own state.
    std::vector<std::string> savedFields = std::move(saved_.fields);
    saved_ = snapshot();
    saved_.fields = std::move(savedFields);
    untitled_ = false;
}

void DatabaseDocument::saveFieldsAs(const std::string& path) {
    SaveFields(st_, path);
    saved_.fields = snapshot().fields;
}

void DatabaseDocument::save(const std::string& path, const std::string& fieldsPath) {
    if (IsCsvPath(path)) {
        SaveCsvDatabase(st_, path);
    } else {
        if (st_.db && !st_.db->fields.empty()) SaveFields(st_, fieldsPath);
        SaveDatabase(st_, path);
    }
    untitled_ = false;
    markSaved();
}

bool DatabaseDocument::needsFieldFile(const std::string& path) {
    return !IsCsvPath(path);
}

DatabaseDocument::Snapshot DatabaseDocument::snapshot() const {
    Snapshot s;
    if (!st_.db) return s;
    s.exists = true;
    for (const auto& f : st_.db->fields)
        s.fields.push_back(f.name);
    s.entries.reserve(st_.db->entries.size());
    for (const auto& e : st_.db->entries)
        s.entries.push_back(e->values);
    return s;
}

void DatabaseDocument::markSaved() {
    saved_ = snapshot();
}

bool DatabaseDocument::changed() const {
    const Snapshot& s = saved_;
    if (!st_.db) return s.exists;
    if (!s.exists || st_.db->fields.size() != s.fields.size() ||
        st_.db->entries.size() != s.entries.size())
        return true;
    for (std::size_t i = 0; i < s.fields.size(); ++i)
        if (st_.db->fields[i].name != s.fields[i]) return true;
    for (std::size_t i = 0; i < s.entries.size(); ++i)
        if (st_.db->entries[i]->values != s.entries[i]) return true;
    return false;
}

} // namespace tandrel
