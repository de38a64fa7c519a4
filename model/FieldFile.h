// SPDX-License-Identifier: GPL-3.0-or-later
// The field definition file: one field name per line.
#pragma once

#include <string>

#include "model/AppState.h"

namespace tandrel {

// Replaces the field list (creating an empty database when there is none); entries
// and their values stay. Sets lastfields. Throws FileError (also for NUL bytes) and
// changes nothing then.
void LoadFields(AppState& st, const std::string& path);

// Does nothing unless a database with at least one field exists. Otherwise writes the
// field names, then sets lastfields. Throws FileError("Cannot create file ...") and
// keeps lastfields then: a failed save never becomes the file loaded at the next start.
void SaveFields(AppState& st, const std::string& path);

} // namespace tandrel
