// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include "net/trust_lookup.h"

namespace webloom {

// The certificates and host keys the user chose to trust, by host and port:
// one small text file in the per-user configuration folder, readable by the
// user only, rewritten whole and atomically. The window, "webloom ftp" and
// publishing share it.
//
// A line: "host:port certificate SHA256:..." or "host:port hostkey SHA256:...".
class TrustStore : public TrustLookup {
public:
    // The file beside the settings store: <config>/webloom/trusted-servers.txt.
    static QString defaultPath();

    explicit TrustStore(QString path = defaultPath(), QStringList acceptedOnce = {});
    const QString &path() const { return path_; }

    // The fingerprint trusted for this server, empty when none. The file is
    // read again only when it has changed since, so that a trust given in
    // another window counts at once.
    QString fingerprint(const QString &hostPort, Kind kind) const override;
    QStringList acceptedOnce() const override { return acceptedOnce_; }
    // Trusts this fingerprint from now on, replacing an earlier one.
    bool remember(const QString &hostPort, Kind kind, const QString &fingerprint, QString *error = nullptr);

private:
    // The lines as last read, and which file they came from (device, inode,
    // size, change time): a rewrite is atomic and so a new file.
    const QList<QByteArray> &lines() const;

    QString path_;
    QStringList acceptedOnce_;
    mutable QList<QByteArray> lines_;
    mutable QByteArray readFrom_;
};

} // namespace webloom
