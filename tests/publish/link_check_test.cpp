// SPDX-License-Identifier: GPL-3.0-or-later
// Links and pictures of the built pages that point to nothing on the server.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "document/field_captions.h"
#include "document/project_file.h"
#include "publish/link_check.h"
#include "support/golden.h"
#include "support/scripted_prompter.h"

namespace webloom {
namespace {

QStringList shown(const QList<PageLink> &links)
{
    QStringList lines;
    for (const PageLink &link : links)
        lines.append(link.page + u" | "_qs + link.caption + u" | "_qs + link.target);
    return lines;
}

TEST(LinkCheckTest, NamesPageFieldAndTargetOfEveryLinkToNothing)
{
    QTemporaryDir base;
    ASSERT_TRUE(base.isValid());
    SiteDocument doc;
    test::ScriptedPrompter prompter;
    ASSERT_TRUE(loadProjectFile(doc, prompter, test::dataPath(u"../../examples/sample-project.txt"_qs)));
    doc.setText(Field::Label1, base.path());
    doc.setText(Field::Text22, u"bara.jpg"_qs); // published beside the pages
    ASSERT_TRUE(test::writeBytes(base.filePath(u"bara.jpg"_qs), "a rose"));
    doc.setText(Field::Text16, u"春"_qs);
    doc.setText(Field::Text25, u"haru01.html"_qs);
    doc.setText(Field::Text15, u"夏"_qs);
    doc.setText(Field::Text24, u"natu.html?x=1"_qs);
    doc.setText(Field::Text17, u"秋"_qs);
    doc.setText(Field::Text26, u"aki.html"_qs); // on the server already
    doc.setText(Field::Text18, u"冬"_qs);
    doc.setText(Field::Text27, u"old/huyu.html"_qs); // in a folder the server has
    doc.setRtext1(u"<img src='img/a%20b.png'>\n"
                  "<A href=\"index.html#top\">top</A> <A href=\"../up.html\">up</A> <a href=#x>x</a>\n"
                  "<a href=\"//cdn.example.jp/x.js\">cdn</a> <A HREF=\"mailto:a@example.jp\">m</A>\n"
                  "<a href=\"./self.html\">me</a> <img src=\"new/pic.png\">"_qs);
    const SiteFiles site = buildSite(doc);
    auto entry = [](const QString &name, bool folder = false) {
        RemoteEntry e;
        e.name = name;
        e.directory = folder;
        return e;
    };
    const QList<RemoteEntry> remote = {entry(u"aki.html"_qs), entry(u"old"_qs, true)};

    const QList<PageLink> broken = brokenLinks(siteLinks(doc, site), site, remote);
    const QString body = u"サブＨＰ／サブホームページ内容 %1行目"_qs;
    EXPECT_EQ(shown(broken), (QStringList{u"index.html | "_qs + fieldCaption(Field::Text24) + u" | natu.html?x=1"_qs,
                                          u"index.html | "_qs + fieldCaption(Field::Text25) + u" | haru01.html"_qs,
                                          u"sub1.html | "_qs + body.arg(1) + u" | img/a%20b.png"_qs,
                                          u"sub1.html | "_qs + body.arg(4) + u" | new/pic.png"_qs}))
        << shown(broken).join(u'\n').toStdString();
    EXPECT_EQ(broken.at(2).path, (QStringList{u"img"_qs, u"a b.png"_qs}));

    // Sent along with the pages, what was missing is no longer listed.
    const QList<RemoteEntry> more = remote + QList<RemoteEntry>{entry(u"natu.html"_qs), entry(u"haru01.html"_qs),
                                                                entry(u"img"_qs, true), entry(u"new"_qs, true)};
    EXPECT_TRUE(brokenLinks(siteLinks(doc, site), site, more).isEmpty());
}

TEST(LinkCheckTest, TheSampleProjectHasNoBrokenLink)
{
    // As a newcomer tries it: the sample and its picture in one folder.
    QTemporaryDir base;
    ASSERT_TRUE(base.isValid());
    const QDir examples(test::dataPath(u"../../examples"_qs));
    ASSERT_TRUE(QFile::copy(examples.filePath(u"bara.jpg"_qs), base.filePath(u"bara.jpg"_qs)));
    SiteDocument doc;
    test::ScriptedPrompter prompter;
    ASSERT_TRUE(loadProjectFile(doc, prompter, examples.filePath(u"sample-project.txt"_qs)));
    doc.setText(Field::Label1, base.path());
    const SiteFiles site = buildSite(doc);
    const QList<PageLink> links = siteLinks(doc, site);
    EXPECT_TRUE(shown(links).contains(u"index.html | "_qs + fieldCaption(Field::Text22) + u" | bara.jpg"_qs))
        << shown(links).join(u'\n').toStdString();
    const QList<PageLink> broken = brokenLinks(links, site, {});
    EXPECT_TRUE(broken.isEmpty()) << shown(broken).join(u'\n').toStdString();
}

} // namespace
} // namespace webloom
