// SPDX-License-Identifier: GPL-3.0-or-later
// Loading, saving and the unsaved-change rule of the database and its field list.
#include "model/DatabaseDocument.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <new>

#include <openssl/evp.h>

#include "model/CsvFile.h"
#include "model/DatabaseEditing.h"
#include "model/DatabaseFile.h"
#include "model/FieldFile.h"
#include "model/TextFile.h"

namespace tandrel {

namespace {

// SHA-256 of every value of every entry in database order, each value and each entry's
// value list preceded by its length, so that no two different databases (a value moved
// into its neighbour, an empty value more) feed the hash the same bytes.
std::array<unsigned char, 32> ValuesDigest(const Database& db) {
    std::array<unsigned char, 32> digest{};
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    if (!ctx) throw std::bad_alloc();
    const auto feedCount = [ctx](std::uint64_t n) {
        unsigned char bytes[8];
        for (unsigned char& b : bytes) {
            b = static_cast<unsigned char>(n & 0xFF);
            n >>= 8;
        }
        EVP_DigestUpdate(ctx, bytes, sizeof bytes);
    };
    EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr);
    for (const EntryPtr& e : db.entries) {
        feedCount(e->values.size());
        for (const std::string& v : e->values) {
            feedCount(v.size());
            EVP_DigestUpdate(ctx, v.data(), v.size());
        }
    }
    unsigned int length = 0;
    EVP_DigestFinal_ex(ctx, digest.data(), &length);
    EVP_MD_CTX_free(ctx);
    return digest;
}

// The first row of a CSV file: up to the first line end outside double quotes. Only that
// much is read, so a big file is not read twice; a file that is no regular file gives
// nothing (reading a pipe could block).
std::string FirstCsvRow(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return {};
    std::ifstream in(path, std::ios::binary);
    std::string row;
    bool quoted = false;
    for (char c; in.get(c);) {
        if (c == '"') quoted = !quoted;
        if (!quoted && (c == '\r' || c == '\n')) break;
        row += c;
    }
    return row;
}

DatabaseLoad LoadAs(AppState& st, const std::string& databasePath, const std::string& fieldsPath,
                    DatabaseFormat format, const std::string& emailColumn, CsvColumnsTaken* taken) {
    if (format == DatabaseFormat::Csv) {
        const CsvColumnsTaken columns = LoadCsvDatabase(st, databasePath, emailColumn);
        if (taken) *taken = columns;
    } else {
        if (!fieldsPath.empty()) LoadFields(st, fieldsPath);
        if (!st.db || st.db->fields.empty()) return DatabaseLoad::NeedsFieldList;
        LoadDatabase(st, databasePath);
    }
    st.db->encoding = DetectDatabaseEncoding(*st.db);
    return DatabaseLoad::Loaded;
}

} // namespace

DatabaseFormat DatabaseFormatOf(const std::string& path) {
    if (!IsCsvPath(path)) return DatabaseFormat::Program;
    // A file that cannot be read is the CSV reader's to report. The row is looked at
    // as written, whatever the delimiter of the program's format is.
    return HoldsAddress(FirstCsvRow(path)) ? DatabaseFormat::Program : DatabaseFormat::Csv;
}

DatabaseLoad LoadDatabaseFiles(AppState& st, const std::string& databasePath,
                               const std::string& fieldsPath, const std::string& emailColumn,
                               CsvColumnsTaken* taken) {
    return LoadAs(st, databasePath, fieldsPath, DatabaseFormatOf(databasePath), emailColumn, taken);
}

DatabaseLoad DatabaseDocument::load(const std::string& databasePath, const std::string& fieldsPath,
                                    DatabaseFormat format, const std::string& emailColumn) {
    CsvColumnsTaken taken;
    const DatabaseLoad result = LoadAs(st_, databasePath, fieldsPath, format, emailColumn, &taken);
    if (result == DatabaseLoad::Loaded) columnsTaken_ = taken;
    return result;
}

void DatabaseDocument::startNew() {
    st_.freeDatabase();
    st_.newDatabase();
    untitled_ = true;
    markSaved();
}

DatabaseLoad DatabaseDocument::open(const std::string& path, const std::string& emailColumn) {
    const DatabaseFormat format = DatabaseFormatOf(path);
    if (load(path, std::string(), format, emailColumn) == DatabaseLoad::NeedsFieldList)
        return DatabaseLoad::NeedsFieldList;
    format_ = format;
    untitled_ = false;
    markSaved();
    return DatabaseLoad::Loaded;
}

bool DatabaseDocument::lacksFieldListFor(const std::string& path) const {
    return DatabaseFormatOf(path) == DatabaseFormat::Program && (!st_.db || st_.db->fields.empty());
}

void DatabaseDocument::openFields(const std::string& path) {
    LoadFields(st_, path);
    st_.db->encoding = DetectDatabaseEncoding(*st_.db);
    markSaved();
}

void DatabaseDocument::restoreLast() {
    const std::string db = st_.user.lastDatabase;
    const std::string fields = st_.user.lastFields;
    const bool dbThere = !db.empty() && FileExists(db);
    const DatabaseFormat format = dbThere ? DatabaseFormatOf(db) : DatabaseFormat::Program;
    if (dbThere && format == DatabaseFormat::Csv) {
        // The column the user chose for it last time, where its header row needed one.
        load(db, std::string(), format, st_.user.lastDatabaseEmailColumn);
        untitled_ = false;
    } else if (!fields.empty() && FileExists(fields)) {
        if (!dbThere) {
            LoadFields(st_, fields);
            st_.db->encoding = DetectDatabaseEncoding(*st_.db);
        } else if (load(db, fields, format, std::string()) == DatabaseLoad::Loaded) {
            untitled_ = false;
        }
    }
    format_ = format;
    markSaved();
}

DatabaseFormat DatabaseDocument::formatFor(const std::string& path) const {
    if (!untitled_ && path == st_.user.lastDatabase) return format_;
    return IsCsvPath(path) ? DatabaseFormat::Csv : DatabaseFormat::Program;
}

void DatabaseDocument::saveAs(const std::string& path) {
    const DatabaseFormat format = formatFor(path);
    if (format == DatabaseFormat::Csv) {
        SaveCsvDatabase(st_, path);
        format_ = format;
        untitled_ = false;
        markSaved();
        return;
    }
    SaveDatabase(st_, path);
    format_ = format;
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
    const DatabaseFormat format = formatFor(path);
    if (format == DatabaseFormat::Csv) {
        SaveCsvDatabase(st_, path);
    } else {
        if (st_.db && !st_.db->fields.empty()) SaveFields(st_, fieldsPath);
        SaveDatabase(st_, path);
    }
    format_ = format;
    untitled_ = false;
    markSaved();
}

bool DatabaseDocument::needsFieldFile(const std::string& path) const {
    return formatFor(path) == DatabaseFormat::Program;
}

std::string DatabaseDocument::bytesFor(std::string_view utf8) {
    if (!st_.db || st_.db->encoding == TextEncoding::Utf8) return std::string(utf8);
    if (std::optional<std::string> bytes = EncodeText(utf8, st_.db->encoding))
        return std::move(*bytes);
    ConvertDatabaseToUtf8(*st_.db);
    if (onSwitchedToUtf8) onSwitchedToUtf8();
    return std::string(utf8);
}

DatabaseDocument::Snapshot DatabaseDocument::snapshot() const {
    Snapshot s;
    if (!st_.db) return s;
    s.exists = true;
    for (const auto& f : st_.db->fields)
        s.fields.push_back(f.name);
    s.entryCount = st_.db->entries.size();
    s.valuesDigest = ValuesDigest(*st_.db);
    return s;
}

void DatabaseDocument::markSaved() {
    saved_ = snapshot();
}

bool DatabaseDocument::changed() const {
    const Snapshot& s = saved_;
    if (!st_.db) return s.exists;
    if (!s.exists || st_.db->fields.size() != s.fields.size() ||
        st_.db->entries.size() != s.entryCount)
        return true;
    for (std::size_t i = 0; i < s.fields.size(); ++i)
        if (st_.db->fields[i].name != s.fields[i]) return true;
    return ValuesDigest(*st_.db) != s.valuesDigest;
}

} // namespace tandrel
