// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include "document/prompter.h"
#include "net/transfer.h"
#include "net/trust_store.h"

namespace webloom {

// Shows who the server says it is (certificate or host key, fingerprint,
// why it did not verify) and asks whether to trust it; a changed identity is
// asked about with No as the default. On Yes the fingerprint is remembered
// for hostPort in trust; false when declined or when it cannot be kept.
bool askTrust(Prompter &prompter, TrustStore *trust, const QString &hostPort, const PeerIdentity &identity);

// A server without TLS where TLS was hoped for: connect unencrypted? (No is
// the default.)
bool askUnencrypted(Prompter &prompter);

} // namespace webloom
