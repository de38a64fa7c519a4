// SPDX-License-Identifier: GPL-3.0-or-later
// Bytes and the windows' text, converted in one place. The core keeps text as bytes;
// a control shows them and gives back exactly those bytes when nothing was changed:
//   - text of a known encoding (a mail, a database) through model/TextEncoding, both
//     ways without losing a byte;
//   - the program's own words (messages, errors, paths it composed), which are UTF-8;
//   - file names, converted as Qt converts them to open the file;
//   - bytes whose encoding only they can tell (settings values, file names): valid UTF-8
//     is read as such, anything else as Windows-1252, so every byte shows as a character.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <string>
#include <string_view>

#include "model/DatabaseDocument.h"
#include "model/TextEncoding.h"

namespace tandrel {

// The program's words, UTF-8.
inline QString WordsText(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

inline std::string Utf8Bytes(const QString& text) {
    const QByteArray u = text.toUtf8();
    return std::string(u.constData(), static_cast<std::size_t>(u.size()));
}

// Bytes in `enc`, as a control shows them.
inline QString EncodedText(std::string_view bytes, TextEncoding enc) {
    return WordsText(DecodeText(bytes, enc));
}

// The text in `enc`; UTF-8 where `enc` cannot hold a character of it (the windows switch
// a mail to UTF-8 before that can happen).
inline std::string EncodedBytes(const QString& text, TextEncoding enc) {
    std::string utf8 = Utf8Bytes(text);
    if (auto bytes = EncodeText(utf8, enc)) return std::move(*bytes);
    return utf8;
}

// A file name as the file dialogs and QFileInfo take it, and back.
inline QString PathText(std::string_view path) {
    return QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size())));
}

inline std::string PathBytes(const QString& path) {
    const QByteArray b = QFile::encodeName(path);
    return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

// Bytes of no known encoding, as a control shows them.
inline QString SystemText(std::string_view bytes) {
    return EncodedText(bytes, DetectTextEncoding(bytes));
}

// What a control that was filled with SystemText(shownFrom) gives back: those very
// bytes while its text is unchanged, otherwise the text in the encoding it was shown in
// (UTF-8 where that cannot hold it).
inline std::string SystemBytes(const QString& text, std::string_view shownFrom) {
    if (SystemText(shownFrom) == text) return std::string(shownFrom);
    return EncodedBytes(text, DetectTextEncoding(shownFrom));
}

// The database's names and values: bytes in its own encoding; typed text goes back into
// it (DatabaseDocument::bytesFor may switch the database to UTF-8).
inline QString DatabaseString(const Database* db, std::string_view bytes) {
    return EncodedText(bytes, db ? db->encoding : TextEncoding::Utf8);
}

inline std::string DatabaseBytes(DatabaseDocument& database, const QString& text) {
    return database.bytesFor(Utf8Bytes(text));
}

} // namespace tandrel
