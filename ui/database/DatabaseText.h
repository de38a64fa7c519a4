// SPDX-License-Identifier: GPL-3.0-or-later
// Names and values of the database as the windows show them: the bytes are read through
// the database's own encoding, and typed text goes back into it (DatabaseDocument::bytesFor).
#pragma once

#include <QByteArray>
#include <QString>
#include <string>
#include <string_view>

#include "model/DatabaseDocument.h"

namespace tandrel {

inline QString DatabaseString(const Database* db, std::string_view bytes) {
    const std::string utf8 = DecodeText(bytes, db ? db->encoding : TextEncoding::Utf8);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

inline std::string DatabaseBytes(DatabaseDocument& database, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return database.bytesFor(
        std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}

} // namespace tandrel
