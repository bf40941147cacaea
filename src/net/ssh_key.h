// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

namespace webloom {

// The key files an SFTP log-in without a password offers besides the SSH
// agent: the first of ~/.ssh/id_ed25519, id_ecdsa, id_rsa that exists, never
// libcurl's own guesses, which end with id_rsa in the current folder.
struct SshKeyFiles {
    QByteArray privateKey; // empty: the agent only
    // Empty without a ".pub" beside the private key; libssh2 then reads the
    // public half from the private key.
    QByteArray publicKey;
};

SshKeyFiles findSshKey();

} // namespace webloom
