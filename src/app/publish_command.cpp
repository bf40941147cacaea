// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/publish_command.h"

#include <QCommandLineParser>
#include <QEventLoop>
#include <QFileInfo>
#include <QSet>

#include "app/cli_prompter.h"
#include "app/process_secrets.h"
#include "app/server_trust.h"
#include "app/terminal_text.h"
#include "document/project_file.h"
#include "document/settings.h"
#include "net/address.h"
#include "net/curl_transfer.h"
#include "publish/link_check.h"
#include "publish/live_check.h"
#include "publish/publisher.h"
#include "sites/registry.h"
#include "net/trust_prompt.h"

namespace webloom {

namespace {

const char kUsage[] = "usage: webloom publish PROJECT_FILE --connection NAME [--registry FILE] [--remote DIR]\n"
                      "                       [--parallel N] [--dry-run] [--trust FINGERPRINT]...\n"
                      "                       [--allow-plain] [--web-address URL] [--no-check]\n"
                      "                       [--photo-size PIXELS] [--original-photos]\n"
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
                      "  --web-address URL      where the server folder appears on the web (default: the\n"
                      "                         folder of the project's own address); after sending, every\n"
                      "                         page sent and the top page are fetched from there and\n"
                      "                         compared with what was sent\n"
                      "  --no-check             no such check\n"
                      "  --photo-size PIXELS    longest side of the web copies of photos and pictures\n"
                      "                         (default 1600; 0 keeps their size)\n"
                      "  --original-photos      send photos and pictures exactly as they are, with their\n"
                      "                         location and camera data, instead of web copies\n"
                      "  The password is the registry's (the desktop keyring's when its field is empty),\n"
                      "  or WEBLOOM_FTP_PASSWORD when set.\n";

constexpr int kMaxPhotoSize = 65535;

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

// The pages sent, and the top page whether sent or not.
QList<SentPage> sentPages(const SiteDocument &doc, const SiteFiles &site, const QSet<QString> &sent)
{
    const QString top = QFileInfo(doc.text(Field::Text21)).fileName();
    QList<SentPage> pages;
    for (const LocalFile &file : site.files) {
        if (file.kind == LocalFile::Kind::Page && (sent.contains(file.name) || file.name == top))
            pages.append({file.name, file.sha256, file.size});
    }
    return pages;
}

// One line per page on out, one line per fault on err; whether all were
// as sent.
bool checkOnline(const QString &address, const QString &remote, const QList<SentPage> &pages, QTextStream &out,
                 QTextStream &err)
{
    if (pages.isEmpty())
        return true;
    LiveCheck live(address, pages);
    QList<PageCheck> checks;
    QEventLoop loop;
    QObject::connect(&live, &LiveCheck::finished, &loop, [&](const QList<PageCheck> &result) {
        checks = result;
        loop.quit();
    });
    live.start();
    loop.exec();
    const QString folder =
        remote.isEmpty() ? QStringLiteral("the log-in folder") : QLatin1Char('"') + remote + QLatin1Char('"');
    for (const PageCheck &c : checks) {
        out << "checked\t" << terminalText(c.name) << '\t' << statusWord(c.status) << '\n';
        using Status = PageCheck::Status;
        if (c.status == Status::Missing || c.status == Status::Differs)
            err << "webloom publish: " << terminalText(c.url)
                << (c.status == Status::Missing ? QStringLiteral(" is not found")
                                                : QStringLiteral(" is not the page sent (HTTP %1)").arg(c.httpStatus))
                << (c.fromCache ? QStringLiteral(", maybe an old copy in a cache")
                                : QStringLiteral(": the server folder %1 is probably not the folder this address "
                                                 "shows (on many hosts it is public_html)")
                                      .arg(terminalText(folder)))
                << "\n";
        else if (c.status == Status::Charset)
            err << "webloom publish: " << terminalText(c.url) << " is served as " << terminalText(c.servedCharset)
                << " but the page is " << c.pageCharset
                << (c.servedCharset.contains(QLatin1String("utf"), Qt::CaseInsensitive)
                        ? QStringLiteral(": UTF-8 pages fix it")
                        : QStringLiteral(": the server's charset setting decides"))
                << "\n";
        else if (c.status == Status::Unreachable)
            err << "webloom publish: cannot fetch " << terminalText(c.url) << ": " << oneLine(c.error) << "\n";
    }
    out.flush();
    err.flush();
    return allOk(checks);
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
    const QCommandLineOption webAddressOption(QStringLiteral("web-address"), QString(), QStringLiteral("URL"));
    const QCommandLineOption noCheckOption(QStringLiteral("no-check"));
    const QCommandLineOption photoSizeOption(QStringLiteral("photo-size"), QString(), QStringLiteral("PIXELS"));
    const QCommandLineOption originalPhotosOption(QStringLiteral("original-photos"));
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    parser.addOptions({connectionOption, registryOption, remoteOption, parallelOption, dryRunOption, trustOption,
                       allowPlainOption, webAddressOption, noCheckOption, photoSizeOption, originalPhotosOption,
                       helpOption});
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
    PhotoChoice photos;
    if (parser.isSet(photoSizeOption)) {
        bool ok = false;
        photos.options.longestSide = parser.value(photoSizeOption).toInt(&ok);
        if (!ok || photos.options.longestSide < 0 || photos.options.longestSide > kMaxPhotoSize)
            return usageError(err, QStringLiteral("--photo-size takes a number from 0 to %1").arg(kMaxPhotoSize));
    }
    photos.webCopies = !parser.isSet(originalPhotosOption);
    const QStringList trusted = parser.values(trustOption);
    if (const QString problem = trustOptionProblem(trusted); !problem.isEmpty())
        return usageError(err, problem);
    const bool dryRun = parser.isSet(dryRunOption);
    const bool allowPlain = parser.isSet(allowPlainOption);
    const bool check = !dryRun && !parser.isSet(noCheckOption);
    if (parser.isSet(webAddressOption) && webFolder(parser.value(webAddressOption)).isEmpty())
        return usageError(err, QStringLiteral("--web-address takes an http:// or https:// address"));

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
    const QList<PageLink> links = siteLinks(doc, site);
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
    Publisher::Settings settings{connection, remote, parallel, recordPath, dryRun, photos};
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
        for (const PageLink &link : brokenLinks(links, site, plan.remote))
            err << "broken link\t" << terminalText(link.page) << '\t' << terminalText(link.target) << '\n';
        err.flush();
        if (!dryRun) {
            for (const NotSentFile &file : plan.notSent)
                err << "webloom publish: " << terminalText(file.name) << " not sent: not a picture ("
                    << terminalText(file.path) << ")\n";
            err.flush();
            publishing = true;
            publisher.publish();
            return;
        }
        if (!plan.outsidePhotoFolder.isEmpty())
            out << "photos from\t" << terminalText(plan.outsidePhotoFolder) << '\n';
        for (const NotSentFile &file : plan.notSent)
            out << "would skip\t" << terminalText(file.name) << "\tnot a picture\n";
        for (const PublishPlan::Leftover &leftover : plan.leftovers)
            out << "would delete\t" << terminalText(leftover.name) << '\n';
        for (const PublishPlan::Entry &entry : plan.send)
            out << "would upload\t" << terminalText(entry.file.name) << '\t' << entry.file.size << '\n';
        out.flush();
        publisher.cancel();
    });
    QSet<QString> sent;
    QObject::connect(&publisher, &Publisher::fileSent, &loop, [&](const QString &file, qint64 bytes) {
        sent.insert(file);
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
        settings::savePublishChoice(baseFolder, {name, remote, parallel, photos.webCopies, photos.options.longestSide});
    failed = failed || !summary.failed.isEmpty() || (summary.cancelled && !dryRun);
    if (check && !failed) {
        const QString address = parser.isSet(webAddressOption) ? webFolder(parser.value(webAddressOption))
                                                               : webFolder(doc.text(Field::Text1));
        if (address.isEmpty())
            err << "webloom publish: the project has no web address of its own: nothing checked online (give "
                   "--web-address URL)\n";
        else
            failed = !checkOnline(address, remote, sentPages(doc, site, sent), out, err);
    }
    out << "published " << summary.sent << " files (" << summary.bytesSent << " bytes), " << summary.unchanged
        << " unchanged\n";
    out.flush();
    err.flush();
    return failed ? 1 : 0;
}

} // namespace webloom
