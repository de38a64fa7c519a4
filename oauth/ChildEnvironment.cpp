// SPDX-License-Identifier: GPL-3.0-or-later
#include "oauth/ChildEnvironment.h"

#include "mailing/Credentials.h"

namespace tandrel {

QProcessEnvironment EnvironmentWithoutSecrets() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : kSecretVariables)
        env.remove(QString::fromLatin1(name));
    return env;
}

} // namespace tandrel
