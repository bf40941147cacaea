// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

namespace webloom {

// What the engine asks before it lets a server in that did not prove who it
// is: whether the user trusts this fingerprint for good, or for this run.
class TrustLookup {
public:
    enum class Kind { Certificate, HostKey };

    virtual ~TrustLookup() = default;
    // The fingerprint trusted for this server, empty when none.
    virtual QString fingerprint(const QString &hostPort, Kind kind) const = 0;
    // Fingerprints accepted for this run only ("webloom ftp --trust").
    virtual QStringList acceptedOnce() const = 0;
};

} // namespace webloom
