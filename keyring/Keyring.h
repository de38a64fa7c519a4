// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop keyring behind PasswordKeeper, and the name a login password is kept under.
#pragma once

#include <memory>
#include <string>

#include "model/AppState.h"
#include "mailing/Credentials.h"

namespace tandrel {

// The Secret Service or KWallet through QtKeychain. It never falls back to a file: where
// no keyring answers, load finds nothing and store fails.
std::unique_ptr<PasswordKeeper> MakeDesktopKeyring();

// The keeper of `st`; the desktop keyring when none was set.
PasswordKeeper& KeyringOf(AppState& st);

} // namespace tandrel
