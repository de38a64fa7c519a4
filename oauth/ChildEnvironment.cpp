// SPDX-License-Identifier: GPL-3.0-or-later
#include "ChildEnvironment.h"

#include "Credentials.h"

namespace tandrel {

QProcessEnvironment EnvironmentWithoutSecrets() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : kSecretVariables)
        env.remove(QString::fromLatin1(name));
    return env;
}

} // namespace tandrel
