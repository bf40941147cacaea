#include "app/server_trust.h"

namespace webloom {

bool isFingerprint(const QString &text)
{
    return text.startsWith(QLatin1String("SHA256:")) && text.size() == 50;
}

void reportUntrusted(QTextStream &err, const char *command, const QString &hostPort, const PeerIdentity &identity)
{
    err << "webloom " << command << ": "
        << (identity.kind == PeerIdentity::Kind::Certificate ? "certificate" : "host key") << " of " << hostPort
        << " not trusted: " << identity.shownFingerprint();
    if (!identity.rememberedFingerprint.isEmpty())
        err << " (changed; trusted before: " << identity.rememberedFingerprint << ")";
    else if (!identity.reason.isEmpty())
        err << " (" << identity.reason << ")";
    err << "; to accept it, add --trust " << identity.fingerprint << "\n";
    err.flush();
}

void warnUnencrypted(QTextStream &err, const char *command, const QString &hostPort)
{
    err << "webloom " << command << ": warning: " << hostPort
        << " offers no encryption; the password and files go unencrypted\n";
    err.flush();
}

} // namespace webloom
