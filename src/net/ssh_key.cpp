// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/ssh_key.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace webloom {

SshKeyFiles findSshKey()
{
    SshKeyFiles files;
    const QString home = QDir::homePath();
    for (const char *name : {"id_ed25519", "id_ecdsa", "id_rsa"}) {
        const QString key = home + QStringLiteral("/.ssh/") + QLatin1String(name);
        if (QDir::isAbsolutePath(home) && QFileInfo(key).isFile()) {
            files.privateKey = QFile::encodeName(key);
            if (QFileInfo(key + QStringLiteral(".pub")).isFile())
                files.publicKey = files.privateKey + ".pub";
            break;
        }
    }
    return files;
}

} // namespace webloom
