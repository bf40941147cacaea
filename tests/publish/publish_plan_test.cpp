// SPDX-License-Identifier: GPL-3.0-or-later
// The plan from the site's files, the record of the last publish and the
// server's listing, with no server: one row a case.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QStringList>

#include <utility>

#include "publish/publish_plan.h"

namespace webloom {
namespace {

enum class Owner { Running, Ended, OtherComputer };

struct Temporary {
    QString name;
    Owner owner;
};

struct Listed {
    QString name;
    qint64 size = -1;
    int hoursOld = -1; // -1: the listing gives no date
    bool directory = false;
};

struct Row {
    const char *what;
    QList<LocalFile> local;
    QList<std::pair<QString, PublishRecord::File>> published;
    QList<Temporary> temporaries;
    QList<Listed> listing;
    QStringList expected;
    QList<SkippedPage> skipped = {};
    QString topPage = {};
    QStringList unconfirmed = {};
};

LocalFile file(const char *name, qint64 size, char hash, LocalFile::Kind kind = LocalFile::Kind::Page)
{
    return {QString::fromLatin1(name),
            QStringLiteral("/site/") + QLatin1String(name),
            size,
            QByteArray(64, hash),
            kind,
            {}};
}

std::pair<QString, PublishRecord::File> published(const char *name, qint64 size, char hash)
{
    return {QString::fromLatin1(name), {size, QByteArray(64, hash)}};
}

QString temporary(const char *rest)
{
    return kUploadPrefix + QLatin1String(rest);
}

QStringList shown(const PublishPlan &plan)
{
    static const char *const kWhy[] = {"New", "Changed", "MissingOnServer", "OtherSizeOnServer"};
    QStringList lines;
    for (const PublishPlan::Entry &entry : plan.send) {
        lines.append(QStringLiteral("send %1 %2").arg(entry.file.name, QLatin1String(kWhy[int(entry.why)])) +
                     (entry.replaces ? QStringLiteral(" replacing") : QString()) +
                     (entry.wave > 0 ? QStringLiteral(" wave %1").arg(entry.wave) : QString()));
    }
    for (const LocalFile &each : plan.unchanged)
        lines.append(QStringLiteral("unchanged ") + each.name);
    for (const SkippedPage &page : plan.skipped)
        lines.append(QStringLiteral("skipped %1: %2").arg(page.kind, page.reason));
    for (const PublishPlan::Leftover &leftover : plan.leftovers)
        lines.append(QStringLiteral("delete %1 %2 %3")
                         .arg(leftover.name, leftover.why == PublishPlan::Leftover::Why::Stopped
                                                 ? QStringLiteral("Stopped")
                                                 : QStringLiteral("Old"))
                         .arg(leftover.size));
    for (const QString &name : plan.gone)
        lines.append(QStringLiteral("forget ") + name);
    return lines;
}

TEST(PublishPlanTest, WhatIsSentKeptAndDeleted)
{
    const QString mine = temporary("0000000a-a.html");
    const QString ended = temporary("0000000b-a.html");
    const QString endedHidden = temporary("0000000c");
    const QString elsewhere = temporary("0000000d-a.html");
    const QString old = temporary("0000000e-b.html");
    const QString dayOld = temporary("0000000f-b.html");
    const QString fresh = temporary("00000010-b.html");
    const QString undated = temporary("00000011-b.html");
    const QString oldFolder = temporary("00000012-pics");
    const QString strangerBadForm = temporary("notmine.conf");
    const QString strangerUpperCase = temporary("DEADBEEF-a.html");

    const Row rows[] = {
        {"a first publish: everything is new and a page that could not be built is carried over",
         {file("index.html", 10, 'a'), file("photo.jpg", 2000, 'p')},
         {},
         {},
         {},
         {u"send index.html New"_qs, u"send photo.jpg New"_qs, u"skipped photo: 写真がありません"_qs},
         {{u"photo"_qs, u"写真がありません"_qs, false}}},
        {"the same bytes on the server; a listing without sizes is no other size",
         {file("index.html", 10, 'a'), file("self.html", 20, 's')},
         {published("index.html", 10, 'a'), published("self.html", 20, 's')},
         {},
         {{u"index.html"_qs, 10}, {u"self.html"_qs, -1}},
         {u"unchanged index.html"_qs, u"unchanged self.html"_qs}},
        {"other bytes, another size under the same hash, missing, a folder of the name, another size there",
         {file("a.html", 10, 'b'), file("b.html", 6, 'b'), file("c.html", 10, 'c'), file("d.html", 10, 'd'),
          file("e.html", 10, 'e'), file("f.html", 10, 'f')},
         {published("a.html", 10, 'a'), published("b.html", 5, 'b'), published("c.html", 10, 'c'),
          published("d.html", 10, 'd'), published("e.html", 10, 'e'), published("f.html", 10, 'x')},
         {},
         {{u"a.html"_qs, 10}, {u"b.html"_qs, 6}, {u"d.html"_qs, 10, -1, true}, {u"e.html"_qs, 99}},
         {u"send c.html MissingOnServer"_qs, u"send d.html MissingOnServer"_qs, u"send f.html Changed"_qs,
          u"send a.html Changed replacing wave 1"_qs, u"send b.html Changed replacing wave 1"_qs,
          u"send e.html OtherSizeOnServer replacing wave 1"_qs}},
        {"files not on the server first, then the pages it shows, the top page last; an unconfirmed arrival "
         "goes again",
         {file("top.html", 10, 't'), file("self.html", 20, 's'), file("sub1.html", 30, 'u'),
          file("bara.jpg", 40, 'b', LocalFile::Kind::Picture), file("haru.jpg", 50, 'h', LocalFile::Kind::Photo),
          file("link.html", 60, 'l')},
         {published("top.html", 9, 't'), published("self.html", 20, 'x'), published("bara.jpg", 40, 'b'),
          published("haru.jpg", 50, 'h'), published("link.html", 60, 'l')},
         {},
         {{u"top.html"_qs, 9},
          {u"self.html"_qs, 20},
          {u"bara.jpg"_qs, 40},
          {u"haru.jpg"_qs, 50},
          {u"link.html"_qs, 60}},
         {u"send bara.jpg Changed replacing"_qs, u"send sub1.html New"_qs,
          u"send self.html Changed replacing wave 1"_qs, u"send link.html Changed replacing wave 1"_qs,
          u"send top.html Changed replacing wave 2"_qs, u"unchanged haru.jpg"_qs},
         {},
         u"top.html"_qs,
         {u"bara.jpg"_qs, u"link.html"_qs}},
        {"temporary names in a listing that shows names starting with a dot",
         {},
         {},
         {{mine, Owner::Running},
          {ended, Owner::Ended},
          {endedHidden, Owner::Ended},
          {elsewhere, Owner::OtherComputer},
          {temporary("00000013-gone.html"), Owner::Running}},
         {{mine, 3, 1},
          {ended, 7, 1},
          {elsewhere, 4, 1},
          {old, 5, 25},
          {dayOld, 5, 24},
          {fresh, 5, 23},
          {undated, 5},
          {oldFolder, -1, 48, true},
          {strangerBadForm, 1, 720},
          {strangerUpperCase, 1, 720}},
         {QStringLiteral("delete %1 Stopped 7").arg(ended), QStringLiteral("delete %1 Old 5").arg(old),
          QStringLiteral("forget ") + endedHidden}},
        {"a server that hides names starting with a dot: an ended publish's names are deleted unseen",
         {},
         {},
         {{mine, Owner::Running}, {ended, Owner::Ended}},
         {{u"index.html"_qs, 10}},
         {QStringLiteral("delete %1 Stopped -1").arg(ended)}},
        {"a folder not there yet, as a dry run plans it, or made just now: nothing listed",
         {file("index.html", 10, 'a')},
         {published("index.html", 10, 'a')},
         {{ended, Owner::Ended}},
         {},
         {u"send index.html MissingOnServer"_qs, QStringLiteral("delete %1 Stopped -1").arg(ended)}},
    };

    const PublishRun running;
    QString endedOwner;
    {
        const PublishRun stopped;
        endedOwner = stopped.owner();
    }
    const QDateTime now(QDate(2026, 1, 10), QTime(12, 0), Qt::UTC);
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        PublishRecord record(QStringLiteral("/nonexistent/record.txt"));
        for (const auto &[name, entry] : row.published)
            record.set(name, entry);
        for (const QString &name : row.unconfirmed)
            record.setUnconfirmed(name, running.owner());
        for (const Temporary &each : row.temporaries) {
            record.addTemporary(each.name, each.owner == Owner::Running ? running.owner()
                                           : each.owner == Owner::Ended ? endedOwner
                                                                        : u"elsewhere.invalid/1/1/1"_qs);
        }
        QList<RemoteEntry> listing;
        for (const Listed &each : row.listing) {
            listing.append({each.name, each.name.toUtf8(), each.directory, each.size,
                            each.hoursOld < 0 ? QDateTime() : now.addSecs(-each.hoursOld * 60 * 60)});
        }
        const PublishPlan plan = makePlan({row.local, row.skipped, {}, {}, row.topPage}, record, listing, now);
        EXPECT_EQ(shown(plan).join(u'\n').toStdString(), row.expected.join(u'\n').toStdString());
    }
}

} // namespace
} // namespace webloom
