// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <functional>
#include <optional>

#include "document/prompter.h"
#include "net/transfer.h"
#include "net/trust_store.h"

namespace webloom {

// The questions a connection raises before the password is sent: a server
// whose certificate or host key is not trusted (or changed), and a server
// without TLS where the address left the choice open. The window asks the
// user; the command line never asks: it reports and answers from its
// options.
class ConnectionQuestions {
public:
    virtual ~ConnectionQuestions() = default;
    // Trust the identity hostPort presented and connect again?
    virtual bool trust(const QString &hostPort, const PeerIdentity &identity) = 0;
    // hostPort offers no TLS and the address has no scheme: go on
    // unencrypted?
    virtual bool goUnencrypted(const QString &hostPort) = 0;
    // hostPort offers no TLS and nothing more is tried; schemeless: the
    // address had no scheme (the question was answered No).
    virtual void noTls(const QString &hostPort, bool schemeless) = 0;
};

// The registered connections of that address now go to newAddress (the
// user has just answered for them).
using AddressChanged = std::function<void(const QString &oldAddress, const QString &newAddress)>;

// The one policy for the failures the user may lift: an identity not trusted
// is asked about, a server without TLS behind an address without a scheme
// is asked about once and the answer kept through addressChanged (ftp:// from
// then on). The connection to send again with, or nothing: give up. Any
// other outcome gives nothing without a question.
std::optional<Transfer::Connection> connectAgain(ConnectionQuestions &questions, const TransferOutcome &outcome,
                                                 const Transfer::Connection &current,
                                                 const AddressChanged &addressChanged = {});

// The questions asked through the prompter, as the windows ask them. A
// certificate or host key accepted is remembered in trust (none: nothing
// unverified is ever accepted).
class PrompterQuestions : public ConnectionQuestions {
public:
    PrompterQuestions(Prompter &prompter, TrustStore *trust) : prompter_(prompter), trust_(trust) {}
    bool trust(const QString &hostPort, const PeerIdentity &identity) override;
    bool goUnencrypted(const QString &hostPort) override;
    void noTls(const QString &, bool) override {}

private:
    Prompter &prompter_;
    TrustStore *trust_;
};

} // namespace webloom
