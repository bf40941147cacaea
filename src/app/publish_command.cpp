// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/publish_command.h"

#include <QCommandLineParser>
#include <QEventLoop>
#include <QFileInfo>

#include "app/cli_prompter.h"
#include "app/process_secrets.h"
#include "app/server_trust.h"
#include "app/terminal_text.h"
#include "document/project_file.h"
#include "document/settings.h"
#include "net/address.h"
#include "net/curl_transfer.h"
#include "publish/publisher.h"
#include "sites/registry.h"
#include "net/trust_prompt.h"

namespace webloom {

namespace {

const char kUsage[] = "usage: webloom publish PROJECT_FILE --connection NAME [--registry FILE] [--remote DIR]\n"
                      "                       [--parallel N] [--dry-run] [--trust FINGERPRINT]...\n"
                      "                       [--allow-plain]\n"
                      "  Builds every page of the project into its base folder and uploads the new and\n"
                      "  changed files, with the photos and pictures the pages refer to, to the remote\n"
                      "  folder of a registered connection.\n"
                      "  --connection NAME      the connection of the registry to publish with\n"
                      "  --registry FILE        the registry file (default: the one the FTP window uses)\n"
                      "  --remote DIR           the folder on the server (default: the last one used for\n"
                      "                         this site and connection, or the log-in folder)\n"
                      "  --parallel N           connections at once, 1 to 8 (default 2)\n"
                      "  --dry-run              list what would be sent; send and record nothing\n"
                      "  --trust FINGERPRINT    accept this certificate or host key for this run\n"
                      "  --allow-plain          when the address has no scheme and the server offers no\n"
                      "                         TLS, send unencrypted (after a warning) instead of nothing\n"
                      "  The password is the registry's (the desktop keyring's when its field is empty),\n"
                      "  or WEBLOOM_FTP_PASSWORD when set.\n";

int usageError(QTextStream &err, const QString &problem)
{
    err << "webloom publish: " << problem << "\n" << kUsage;
    err.flush();
    return 2;
}

// Server replies and names reach the terminal on one line, control
// characters escaped.
QString oneLine(QString text)
{
    return terminalText(text.replace(QLatin1Char('\n'), QLatin1Char(' ')));
}

} // namespace

QString publishUsage()
{
    return QString::fromLatin1(kUsage);
}

int runPublish(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    QCommandLineParser parser;
    const QCommandLineOption connectionOption(QStringLiteral("connection"), QString(), QStringLiteral("NAME"));
    const QCommandLineOption registryOption(QStringLiteral("registry"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption remoteOption(QStringLiteral("remote"), QString(), QStringLiteral("DIR"));
    const QCommandLineOption parallelOption(QStringLiteral("parallel"), QString(), QStringLiteral("N"));
    const QCommandLineOption dryRunOption(QStringLiteral("dry-run"));
    const QCommandLineOption trustOption(QStringLiteral("trust"), QString(), QStringLiteral("FINGERPRINT"));
    const QCommandLineOption allowPlainOption(QStringLiteral("allow-plain"));
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    parser.addOptions({connectionOption, registryOption, remoteOption, parallelOption, dryRunOption, trustOption,
                       allowPlainOption, helpOption});
    if (!parser.parse(QStringList{QStringLiteral("webloom publish")} + arguments))
        return usageError(err, parser.errorText());
    if (parser.isSet(helpOption)) {
        out << kUsage;
        out.flush();
        return 0;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1)
        return usageError(err, positional.isEmpty() ? QStringLiteral("missing project file")
                                                    : QStringLiteral("unexpected argument ") + positional.at(1));
    if (!parser.isSet(connectionOption) || parser.value(connectionOption).isEmpty())
        return usageError(err, QStringLiteral("--connection NAME is required"));
    int parallel = 2;
    if (parser.isSet(parallelOption)) {
        bool ok = false;
        parallel = parser.value(parallelOption).toInt(&ok);
        if (!ok || parallel < 1 || parallel > Publisher::kMaxParallel)
            return usageError(err, QStringLiteral("--parallel takes a number from 1 to 8"));
    }
    const QStringList trusted = parser.values(trustOption);
    if (const QString problem = trustOptionProblem(trusted); !problem.isEmpty())
        return usageError(err, problem);
    const bool dryRun = parser.isSet(dryRunOption);
    const bool allowPlain = parser.isSet(allowPlainOption);

    // The project, as LOAD reads it.
    SiteDocument doc;
    ConsolePrompter prompter(err);
    if (!loadProjectFile(doc, prompter, QFileInfo(positional.first()).absoluteFilePath()))
        return 2;

    // The connection, as the FTP window registered it, passwords and all.
    guardProcessSecrets();
    const QString registryPath = parser.isSet(registryOption) ? parser.value(registryOption) : settings::readHostmei();
    if (registryPath.isEmpty())
        return usageError(err, QStringLiteral("no registry file: give --registry FILE"));
    const std::optional<QList<RegisteredConnection>> entries = readRegistryFile(registryPath);
    if (!entries) {
        err << "webloom publish: cannot read the registry " << registryPath << "\n";
        return 2;
    }
    const QString name = parser.value(connectionOption);
    const std::optional<RegisteredConnection> entry = findConnection(*entries, name);
    if (!entry) {
        err << "webloom publish: no connection named \"" << name << "\" in " << registryPath << "\n";
        return 2;
    }
    const Transfer::Connection connection =
        entry->toTransfer(commandPassword(entry->user, entry->address, entry->password, false, err));
    if (!ServerAddress::parse(connection.address)) {
        err << "webloom publish: not an address: \"" << connection.address << "\"\n";
        return 2;
    }
    const QString baseFolder = doc.text(Field::Label1);
    const settings::PublishChoice remembered = settings::readPublishChoice(baseFolder);
    const QString remote = parser.isSet(remoteOption) ? parser.value(remoteOption)
                                                      : (remembered.connection == name ? remembered.remote : QString());

    // The pages, as "webloom build" writes them; a local file unchanged since
    // the last publish here is not read again.
    const QString recordPath = PublishRecord::pathFor(connection, remote);
    const SiteFiles site = buildSite(doc, PublishRecord::knownDigests(recordPath));
    bool failed = false;
    for (const SkippedPage &page : site.skipped) {
        err << "webloom publish: " << page.kind << " page not built: " << oneLine(page.reason) << "\n";
        failed = failed || page.failed;
    }
    err.flush();

    CurlOptions options;
    options.trustOnce = trusted;
    // The publish's own error that a line written for a refusal of trust or
    // encryption already stands for.
    QString reportedError;
    // The files are on their way (so some may have been sent).
    bool publishing = false;
    Publisher::Settings settings{connection, remote, parallel, recordPath, dryRun};
    CommandLineQuestions questions(err, "publish", allowPlain);
    Publisher publisher(
        settings, site, [options] { return std::make_unique<CurlTransfer>(options); },
        [&](const TransferOutcome &outcome,
            const Transfer::Connection &current) -> std::optional<Transfer::Connection> {
            questions.earlier = publishing;
            const std::optional<Transfer::Connection> again = connectAgain(questions, outcome, current);
            if (!again && outcome.failure == TransferOutcome::Failure::NoTls)
                reportedError = secureFailureMessage(outcome);
            return again;
        });
    QObject::connect(&publisher, &Publisher::otherIdentity, [&](const PeerIdentity &identity) {
        const std::optional<ServerAddress> address = ServerAddress::parse(publisher.connection().address);
        reportOtherIdentity(err, "publish", address ? address->hostPort() : publisher.connection().address, identity,
                            trusted);
        reportedError = otherIdentityMessage(identity);
    });

    QEventLoop loop;
    PublishSummary summary;
    QObject::connect(&publisher, &Publisher::planned, &loop, [&](const PublishPlan &plan) {
        if (!dryRun) {
            publishing = true;
            publisher.publish();
            return;
        }
        for (const PublishPlan::Leftover &leftover : plan.leftovers)
            out << "would delete\t" << terminalText(leftover.name) << '\n';
        for (const PublishPlan::Entry &entry : plan.send)
            out << "would upload\t" << terminalText(entry.file.name) << '\t' << entry.file.size << '\n';
        out.flush();
        publisher.cancel();
    });
    QObject::connect(&publisher, &Publisher::fileSent, &loop, [&](const QString &file, qint64 bytes) {
        out << "uploaded\t" << terminalText(file) << '\t' << bytes << '\n';
        out.flush();
    });
    QObject::connect(&publisher, &Publisher::leftoverDeleted, &loop, [&](const QString &file) {
        out << "deleted\t" << terminalText(file) << '\n';
        out.flush();
    });
    QObject::connect(&publisher, &Publisher::fileFailed, &loop, [&](const QString &file, const QString &reason) {
        err << "webloom publish: " << terminalText(file) << " not sent: " << oneLine(reason) << "\n";
        err.flush();
    });
    QObject::connect(&publisher, &Publisher::finished, &loop, [&](const PublishSummary &result) {
        summary = result;
        loop.quit();
    });
    publisher.plan();
    loop.exec();

    if (!summary.error.isEmpty()) {
        if (summary.error != reportedError)
            err << "webloom publish: " << oneLine(summary.error) << "\n";
        failed = true;
    }
    if (!dryRun && summary.error.isEmpty())
        settings::savePublishChoice(baseFolder, {name, remote, parallel});
    failed = failed || !summary.failed.isEmpty() || (summary.cancelled && !dryRun);
    out << "published " << summary.sent << " files (" << summary.bytesSent << " bytes), " << summary.unchanged
        << " unchanged\n";
    out.flush();
    err.flush();
    return failed ? 1 : 0;
}

} // namespace webloom
