// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/publish_plan.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <utility>

namespace webloom {

qint64 PublishPlan::bytesToSend() const
{
    qint64 total = 0;
    for (const Entry &entry : send)
        total += entry.file.size;
    return total;
}

QString temporaryName(const QString &stem, const QString &name)
{
    const QString full = kUploadPrefix + stem + QLatin1Char('-') + name;
    return full.toUtf8().size() <= 255 ? full : kUploadPrefix + stem;
}

bool isTemporaryName(const QString &name)
{
    static const QRegularExpression kForm(QRegularExpression::anchoredPattern(
        QRegularExpression::escape(kUploadPrefix) + QStringLiteral("[0-9a-f]{8}(-.+)?")));
    return kForm.match(name).hasMatch();
}

PublishPlan makePlan(const SiteFiles &site, const PublishRecord &record, const QList<RemoteEntry> &remote,
                     const QDateTime &now)
{
    using Leftover = PublishPlan::Leftover;
    PublishPlan plan;
    plan.skipped = site.skipped;
    plan.remote = remote;
    plan.notSent = site.notSent;
    plan.outsidePhotoFolder = site.outsidePhotoFolder;
    const QHash<QString, QString> &recorded = record.temporaries();
    QHash<QString, const RemoteEntry *> onServer;
    QSet<QString> listed;
    bool dotNamesShown = false;
    for (const RemoteEntry &entry : remote) {
        dotNamesShown = dotNamesShown || entry.name.startsWith(QLatin1Char('.'));
        if (entry.directory)
            continue;
        if (!isTemporaryName(entry.name)) {
            onServer.insert(entry.name, &entry);
            continue;
        }
        listed.insert(entry.name);
        const auto owner = recorded.constFind(entry.name);
        if (owner != recorded.constEnd() && !PublishRun::running(*owner))
            plan.leftovers.append({entry.name, entry.size, Leftover::Why::Stopped});
        else if (entry.modified.isValid() && entry.modified.secsTo(now) > 24 * 60 * 60)
            plan.leftovers.append({entry.name, entry.size, Leftover::Why::Old});
    }
    QStringList hidden;
    for (auto it = recorded.constBegin(); it != recorded.constEnd(); ++it) {
        if (!listed.contains(it.key()) && !PublishRun::running(it.value()))
            hidden.append(it.key());
    }
    hidden.sort();
    for (const QString &name : hidden) {
        if (dotNamesShown)
            plan.gone.append(name);
        else
            plan.leftovers.append({name, -1, Leftover::Why::Stopped});
    }
    for (const LocalFile &file : site.files) {
        const auto published = record.files().constFind(file.name);
        const RemoteEntry *there = onServer.value(file.name);
        if (published == record.files().constEnd())
            plan.send.append({file, PublishPlan::Why::New});
        else if (published->sha256 != file.sha256 || published->size != file.size)
            plan.send.append({file, PublishPlan::Why::Changed});
        else if (!there)
            plan.send.append({file, PublishPlan::Why::MissingOnServer});
        else if (record.unconfirmed().contains(file.name))
            plan.send.append({file, PublishPlan::Why::Changed});
        else if (there->size >= 0 && there->size != file.size)
            plan.send.append({file, PublishPlan::Why::OtherSizeOnServer});
        else
            plan.unchanged.append(file);
    }
    for (PublishPlan::Entry &entry : plan.send) {
        entry.replaces = onServer.contains(entry.file.name);
        if (!site.topPage.isEmpty() && entry.file.name == site.topPage)
            entry.wave = 2;
        else if (entry.replaces && entry.file.kind == LocalFile::Kind::Page)
            entry.wave = 1;
    }
    // Within a wave, what pages show before the pages.
    auto order = [](const PublishPlan::Entry &entry) {
        return std::pair(entry.wave, entry.file.kind == LocalFile::Kind::Page);
    };
    std::stable_sort(plan.send.begin(), plan.send.end(),
                     [&](const PublishPlan::Entry &a, const PublishPlan::Entry &b) { return order(a) < order(b); });
    return plan;
}

} // namespace webloom
