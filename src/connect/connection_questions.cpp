// SPDX-License-Identifier: GPL-3.0-or-later
#include "connect/connection_questions.h"

#include "connect/trust_questions.h"
#include "net/address.h"

namespace webloom {

std::optional<Transfer::Connection> connectAgain(ConnectionQuestions &questions, const TransferOutcome &outcome,
                                                 const Transfer::Connection &current,
                                                 const AddressChanged &addressChanged)
{
    using Failure = TransferOutcome::Failure;
    if (outcome.failure != Failure::Untrusted && outcome.failure != Failure::NoTls)
        return std::nullopt;
    const std::optional<ServerAddress> address = ServerAddress::parse(current.address);
    if (!address)
        return std::nullopt;
    if (outcome.failure == Failure::Untrusted)
        return questions.trust(address->hostPort(), outcome.identity) ? std::optional(current) : std::nullopt;
    // No scheme means "encrypted when the server offers it"; the user decides
    // once, before the password is sent, and the answer is remembered.
    const bool schemeless = address->scheme == ServerAddress::Scheme::Auto;
    if (!schemeless || !questions.goUnencrypted(address->hostPort())) {
        questions.noTls(address->hostPort(), schemeless);
        return std::nullopt;
    }
    const QString plain = address->withScheme(ServerAddress::Scheme::Ftp);
    if (addressChanged)
        addressChanged(current.address, plain);
    return Transfer::Connection{plain, current.user, current.password};
}

bool PrompterQuestions::trust(const QString &hostPort, const PeerIdentity &identity)
{
    // Nothing to remember without a fingerprint.
    return !identity.fingerprint.isEmpty() && askTrust(prompter_, trust_, hostPort, identity);
}

bool PrompterQuestions::goUnencrypted(const QString &)
{
    return askUnencrypted(prompter_);
}

} // namespace webloom
