// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>

#include <sys/inotify.h>

#include "document/site_document.h"
#include "support/folder_watch.h"

using namespace webloom;

TEST(SiteDocument, FreshDocumentHoldsTheDefaults)
{
    SiteDocument doc;
    for (Field f : {Field::Text1, Field::Text12, Field::Text42, Field::Text6, Field::Text41})
        EXPECT_EQ(doc.text(f), QStringLiteral("http://")) << fieldName(f).toStdString();
    EXPECT_EQ(doc.text(Field::Text21), QStringLiteral("index.html"));
    EXPECT_EQ(doc.text(Field::Text7), QStringLiteral("20"));
    EXPECT_EQ(doc.text(Field::Text44), QStringLiteral("self.html"));
    EXPECT_EQ(doc.text(Field::Text43), QStringLiteral("link.html"));
    EXPECT_EQ(doc.text(Field::Label1), QDir::currentPath());
    int empty = 0;
    for (const FieldInfo &info : fieldTable())
        empty += doc.text(info.field).isEmpty() ? 1 : 0;
    EXPECT_EQ(empty, kFieldCount - 10); // nine defaults and Label1
    for (int i = 0; i < kListCount; ++i)
        EXPECT_EQ(doc.itemCount(static_cast<ListId>(i)), 0);
    EXPECT_EQ(doc.currentTab(), TabCommon);
}

TEST(SiteDocument, StoredFieldsAndKeys)
{
    int stored = 0;
    for (const FieldInfo &info : fieldTable())
        stored += info.key ? 1 : 0;
    EXPECT_EQ(stored, 48); // Label1 and 47 text fields
    EXPECT_STREQ(fieldInfo(Field::Text42).key, "te042");
    EXPECT_STREQ(fieldInfo(Field::Label1).key, "ki001");
    for (Field f : {Field::Text40, Field::Text41, Field::Text47, Field::Text51, Field::Label93})
        EXPECT_EQ(fieldInfo(f).key, nullptr);
    EXPECT_EQ(fieldByName(u"Text13"), Field::Text13);
    EXPECT_FALSE(fieldByName(u"Text52").has_value());
}

TEST(SiteDocument, BodyLinesSplitOnEveryLineEndAndIgnoreTheFinalBreak)
{
    SiteDocument doc;
    EXPECT_TRUE(doc.bodyLines().isEmpty());
    doc.setRtext1(QStringLiteral("a\r\nb\nc\rd\n"));
    EXPECT_EQ(doc.bodyLines(),
              (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d")}));
    doc.setRtext1(QStringLiteral("a\n\nb"));
    EXPECT_EQ(doc.bodyLines(), (QStringList{QStringLiteral("a"), QString(), QStringLiteral("b")}));
    doc.setRtext1(QStringLiteral("\n"));
    EXPECT_EQ(doc.bodyLines(), QStringList{QString()});
    doc.setBodyLines({QStringLiteral("x"), QStringLiteral("　")});
    EXPECT_EQ(doc.rtext1(), QStringLiteral("x\n　\n"));
}

TEST(SiteDocument, ChangeSignalsFireOnlyOnRealChanges)
{
    SiteDocument doc;
    QSignalSpy texts(&doc, &SiteDocument::textChanged);
    doc.setText(Field::Text13, QStringLiteral("t"));
    doc.setText(Field::Text13, QStringLiteral("t"));
    EXPECT_EQ(texts.count(), 1);
    QSignalSpy lists(&doc, &SiteDocument::listChanged);
    doc.appendItem(ListId::List3, QStringLiteral("a"));
    EXPECT_FALSE(doc.removeItem(ListId::List3, 5));
    EXPECT_FALSE(doc.replaceItem(ListId::List3, -1, QStringLiteral("x")));
    EXPECT_EQ(lists.count(), 1);
    EXPECT_EQ(doc.item(ListId::List3, 9), QString());
}

TEST(FileList, OrdinaryVisibleFilesSortedCaseInsensitivelyWithStableTies)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const char *name : {"b.jpg", "A.jpg", "a.jpg", ".hidden", "C.txt", "B.jpg"}) {
        QFile f(dir.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("sub")));
    SiteDocument doc;
    ASSERT_TRUE(doc.pointFile1(dir.path()));
    EXPECT_EQ(doc.file1().names(),
              (QStringList{QStringLiteral("A.jpg"), QStringLiteral("a.jpg"), QStringLiteral("B.jpg"),
                           QStringLiteral("b.jpg"), QStringLiteral("C.txt")}));
    // A missing folder fails and keeps the old entries.
    EXPECT_FALSE(doc.pointFile1(dir.filePath(QStringLiteral("missing"))));
    EXPECT_FALSE(doc.pointFile1(QString()));
    EXPECT_EQ(doc.file1().count(), 5);
    EXPECT_EQ(doc.file1().folder(), dir.path());
}

TEST(FileList, AFolderUnchangedSinceItWasReadIsNotReadAgainAndEveryChangeIsSeen)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    auto touch = [&dir](const char *name) {
        QFile f(dir.filePath(QString::fromLatin1(name)));
        return f.open(QIODevice::WriteOnly);
    };
    ASSERT_TRUE(touch("a.jpg"));
    // Past the margin the listing keeps for the kernel's coarse clock.
    auto settle = [] { QThread::msleep(120); };
    settle();
    FileList list;
    ASSERT_TRUE(list.setFolder(dir.path()));
    test::FolderWatch watch(dir.path(), IN_OPEN);
    ASSERT_TRUE(watch.isValid());
    auto readAgain = [&] {
        watch.events();
        EXPECT_TRUE(list.setFolder(dir.path()));
        return !watch.events().isEmpty();
    };
    EXPECT_FALSE(readAgain());
    EXPECT_FALSE(readAgain()) << "refresh() and setFolder() alike";

    // Each change, also one right after the folder was read, is seen.
    ASSERT_TRUE(touch("b.jpg"));
    EXPECT_TRUE(readAgain());
    EXPECT_EQ(list.names(), (QStringList{u"a.jpg"_qs, u"b.jpg"_qs}));
    settle();
    EXPECT_TRUE(readAgain()) << "read when it had just changed, so read once more";
    EXPECT_FALSE(readAgain());
    ASSERT_TRUE(QFile::rename(dir.filePath(u"b.jpg"_qs), dir.filePath(u"c.jpg"_qs)));
    EXPECT_TRUE(readAgain());
    EXPECT_EQ(list.names(), (QStringList{u"a.jpg"_qs, u"c.jpg"_qs}));
    settle();
    ASSERT_TRUE(readAgain());
    ASSERT_TRUE(QFile::remove(dir.filePath(u"a.jpg"_qs)));
    EXPECT_TRUE(readAgain());
    EXPECT_EQ(list.names(), QStringList{u"c.jpg"_qs});

    // A link can change with its target alone: such a folder is always read.
    ASSERT_TRUE(QFile::link(dir.filePath(u"c.jpg"_qs), dir.filePath(u"d.jpg"_qs)));
    settle();
    EXPECT_TRUE(readAgain());
    EXPECT_TRUE(readAgain());
}
