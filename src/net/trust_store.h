#pragma once

#include <QString>

namespace webloom {

// The certificates and host keys the user chose to trust, by host and port:
// one small text file in the per-user configuration folder, readable by the
// user only, rewritten whole and atomically. The window, "webloom ftp" and
// publishing share it.
//
// A line: "host:port certificate SHA256:..." or "host:port hostkey SHA256:...".
class TrustStore {
public:
    enum class Kind { Certificate, HostKey };

    // The file beside the settings store: <config>/webloom/trusted-servers.txt.
    static QString defaultPath();

    explicit TrustStore(QString path = defaultPath());
    const QString &path() const { return path_; }

    // The fingerprint trusted for this server, empty when none. Read afresh
    // each time, so that a trust given in another window counts at once.
    QString fingerprint(const QString &hostPort, Kind kind) const;
    // Trusts this fingerprint from now on, replacing an earlier one.
    bool remember(const QString &hostPort, Kind kind, const QString &fingerprint, QString *error = nullptr);

private:
    QString path_;
};

} // namespace webloom
