// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "document/settings.h"
#include "support/scoped_env.h"

using namespace webloom;
using webloom::test::ScopedEnv;

namespace {

// Points the settings at a file for one test and back at the per-user store
// afterwards.
class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath(QStringLiteral("webloom.ini"));
        settings::useFile(path);
    }
    void TearDown() override { settings::useFile(QString()); }

    QString fileText() const
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    QTemporaryDir dir;
    QString path;
};

} // namespace

TEST_F(SettingsTest, FirstRunReadsEmptyAndWritesNothing)
{
    EXPECT_EQ(settings::readHostmei(), QString());
    EXPECT_EQ(settings::readFirstdir(), QString());
    EXPECT_FALSE(QFile::exists(path));
}

TEST_F(SettingsTest, HostmeiRoundTripsAndEmptyingKeepsTheKey)
{
    const QString registry = QStringLiteral("/home/ユーザー/接続 一覧.txt");
    settings::saveHostmei(registry);
    EXPECT_EQ(settings::readHostmei(), registry);
    EXPECT_TRUE(fileText().contains(QStringLiteral("[startup]")));

    settings::saveHostmei(QString());
    EXPECT_EQ(settings::readHostmei(), QString());
    EXPECT_TRUE(fileText().contains(QStringLiteral("hostmei=")));
}

TEST_F(SettingsTest, FirstdirIsTheCurrentFolderAtTheMomentOfTheSave)
{
    QTemporaryDir chosen;
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(chosen.path()));
    settings::saveFirstdir();
    ASSERT_TRUE(QDir::setCurrent(before));

    EXPECT_EQ(settings::readFirstdir(), QDir::toNativeSeparators(QDir(chosen.path()).canonicalPath()));
    // Saving one setting leaves the other alone.
    settings::saveHostmei(QStringLiteral("r.txt"));
    EXPECT_EQ(settings::readFirstdir(), QDir::toNativeSeparators(QDir(chosen.path()).canonicalPath()));
}

TEST_F(SettingsTest, UnwritableStoreIsSkippedSilently)
{
    // A folder cannot be made below a regular file, whoever runs the test.
    const QString blocker = dir.filePath(QStringLiteral("plain-file"));
    {
        QFile f(blocker);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    const QString unwritable = blocker + QStringLiteral("/sub/webloom.ini");
    settings::useFile(unwritable);

    settings::saveHostmei(QStringLiteral("/tmp/registry.txt"));
    settings::saveFirstdir();
    // The value must not survive in the process either: a later read in the
    // same run sees what the store holds, which is nothing.
    EXPECT_EQ(settings::readHostmei(), QString());
    EXPECT_EQ(settings::readFirstdir(), QString());
    EXPECT_FALSE(QFileInfo::exists(unwritable));

    // A folder standing where the file should be.
    const QString folder = dir.filePath(QStringLiteral("a-folder.ini"));
    ASSERT_TRUE(QDir().mkpath(folder));
    settings::useFile(folder);
    settings::saveHostmei(QStringLiteral("x"));
    EXPECT_EQ(settings::readHostmei(), QString());
    EXPECT_TRUE(QFileInfo(folder).isDir());
}

TEST(SettingsStore, PerUserStoreIsOneIniFileNamedAfterTheProgram)
{
    QTemporaryDir config;
    ScopedEnv env("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    settings::useFile(QString());
    EXPECT_EQ(settings::storePath(), config.filePath(QStringLiteral("webloom.ini")));
    settings::saveHostmei(QStringLiteral("/srv/hosts.txt"));
    EXPECT_EQ(settings::readHostmei(), QStringLiteral("/srv/hosts.txt"));
    QFile f(config.filePath(QStringLiteral("webloom.ini")));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(f.readAll());
    EXPECT_TRUE(text.startsWith(QStringLiteral("[startup]"))) << text.toStdString();
}

TEST(SettingsDesktop, EmptyUnlessTheDesktopFolderExists)
{
    QTemporaryDir home;
    ScopedEnv homeEnv("HOME", QFile::encodeName(home.path()));
    ScopedEnv configEnv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral(".config"))));
    EXPECT_EQ(settings::desktopFolder(), QString());

    ASSERT_TRUE(QDir(home.path()).mkdir(QStringLiteral("Desktop")));
    EXPECT_EQ(settings::desktopFolder(), QDir::toNativeSeparators(home.filePath(QStringLiteral("Desktop"))));

    // A desktop moved elsewhere through the user's folder settings is followed.
    ASSERT_TRUE(QDir(home.path()).mkpath(QStringLiteral(".config")));
    ASSERT_TRUE(QDir(home.path()).mkpath(QStringLiteral("デスクトップ")));
    QFile dirs(home.filePath(QStringLiteral(".config/user-dirs.dirs")));
    ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
    dirs.write("XDG_DESKTOP_DIR=\"$HOME/\xe3\x83\x87\xe3\x82\xb9\xe3\x82\xaf\xe3\x83\x88\xe3\x83\x83\xe3\x83\x97\"\n");
    dirs.close();
    EXPECT_EQ(settings::desktopFolder(), QDir::toNativeSeparators(home.filePath(QStringLiteral("デスクトップ"))));
}
