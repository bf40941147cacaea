// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/server_trust.h"

#include <unistd.h>

#include "app/password_prompt.h"
#include "app/process_secrets.h"
#include "app/terminal_text.h"
#include "sites/password_store.h"

namespace webloom {

bool isFingerprint(const QString &text)
{
    return text.startsWith(QLatin1String("SHA256:")) && text.size() == 50;
}

QString trustOptionProblem(const QStringList &values)
{
    for (const QString &fingerprint : values) {
        if (!isFingerprint(fingerprint))
            return QStringLiteral("not a fingerprint: \"%1\"").arg(fingerprint);
    }
    return {};
}

QString commandPassword(const QString &user, const QString &address, const QString &filePassword, bool typeIfNone,
                        QTextStream &err)
{
    if (const std::optional<QString> fromEnvironment = takeEnvironmentPassword())
        return *fromEnvironment;
    const QString stored = keyring::passwordOf(keyring::userStore(), user, address, filePassword);
    return stored.isEmpty() && typeIfNone ? readPassword(STDIN_FILENO, err) : stored;
}

bool CommandLineQuestions::trust(const QString &hostPort, const PeerIdentity &identity)
{
    reportUntrusted(err_, command_, hostPort, identity);
    return false;
}

bool CommandLineQuestions::goUnencrypted(const QString &hostPort)
{
    if (allowPlain_)
        warnUnencrypted(err_, command_, hostPort);
    return allowPlain_;
}

void CommandLineQuestions::noTls(const QString &hostPort, bool schemeless)
{
    reportNoTls(err_, command_, hostPort, schemeless, earlier);
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

void reportNoTls(QTextStream &err, const char *command, const QString &hostPort, bool offerAllowPlain, bool earlier)
{
    err << "webloom " << command << ": " << hostPort << " offers no encryption (TLS); nothing "
        << (earlier ? "more " : "") << "was sent. Use ftp://" << (offerAllowPlain ? " or --allow-plain" : "")
        << " to connect unencrypted.\n";
    err.flush();
}

void reportTlsDataRefused(QTextStream &err, const char *command, const QString &hostPort, const QString &reply)
{
    err << "webloom " << command << ": " << hostPort
        << " took the encrypted log-in but refused encrypted data connections (" << terminalText(reply)
        << "); nothing went unencrypted\n";
    err.flush();
}

void reportOtherIdentity(QTextStream &err, const char *command, const QString &hostPort, const PeerIdentity &identity,
                         const QStringList &trusted)
{
    const QString known =
        !identity.rememberedFingerprint.isEmpty() ? identity.rememberedFingerprint : trusted.join(QStringLiteral(", "));
    err << "webloom " << command << ": another connection to " << hostPort << " presented a different "
        << (identity.kind == PeerIdentity::Kind::Certificate ? "certificate" : "host key") << ": "
        << identity.fingerprint;
    if (!known.isEmpty())
        err << " (trusted: " << known << ")";
    err << "; stopped, someone may be posing as the server\n";
    err.flush();
}

} // namespace webloom
