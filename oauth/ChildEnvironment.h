// SPDX-License-Identifier: GPL-3.0-or-later
// The environment of the programs the login starts: the token command and the browser.
#pragma once

#include <QProcessEnvironment>

namespace tandrel {

// This process's environment without the program's own secrets (kSecretVariables): a
// command of the user's or a browser needs none of them, and could keep or pass them on.
QProcessEnvironment EnvironmentWithoutSecrets();

} // namespace tandrel
