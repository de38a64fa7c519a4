// The field definition file: one field name per line.
#pragma once

#include <string>

#include "AppState.h"

namespace tandrel {

// Replaces the field list (creating an empty database when there is none); entries
// and their values stay. Sets lastfields. Throws FileError and changes nothing then.
void LoadFields(AppState& st, const std::string& path);

// Does nothing unless a database with at least one field exists. Otherwise sets
// lastfields, then writes the field names. Throws FileError("Cannot create file ...").
void SaveFields(AppState& st, const std::string& path);

} // namespace tandrel
