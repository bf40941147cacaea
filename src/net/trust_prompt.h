// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include "net/transfer.h"

namespace webloom {

// What the windows and publish say when a server's identity or encryption
// ended a connection.

// One sentence for a failure of trust or encryption (or a refused log-in over
// an encrypted connection), with the library's detail on a second line; empty
// for any other outcome.
QString secureFailureMessage(const TransferOutcome &outcome);

// Why a publish stopped when one of its further connections to the server
// presented another certificate or host key than the first: one sentence,
// then the fingerprint trusted (when one was) and the one presented.
QString otherIdentityMessage(const PeerIdentity &identity);

} // namespace webloom
