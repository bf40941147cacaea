#pragma once

#include <QString>

#include "document/prompter.h"
#include "upload/transfer.h"
#include "upload/trust_store.h"

namespace webloom {

// The questions and messages about a server's identity and encryption that
// the FTP window and the publish window share.

// Shows who the server says it is (certificate or host key, fingerprint,
// why it did not verify) and asks whether to trust it; a changed identity is
// asked about with No as the default. On Yes the fingerprint is remembered
// for hostPort in trust; false when declined or when it cannot be kept.
bool askTrust(Prompter &prompter, TrustStore *trust, const QString &hostPort, const PeerIdentity &identity);

// A server without TLS where TLS was hoped for: connect unencrypted? (No is
// the default.)
bool askUnencrypted(Prompter &prompter);

// One sentence for a failure of trust or encryption (or a refused log-in over
// an encrypted connection), with the library's detail on a second line; empty
// for any other outcome.
QString secureFailureMessage(const TransferOutcome &outcome);

// Why a publish stopped when one of its further connections to the server
// presented another certificate or host key than the first: one sentence,
// then the fingerprint trusted (when one was) and the one presented.
QString otherIdentityMessage(const PeerIdentity &identity);

} // namespace webloom
