// SPDX-License-Identifier: GPL-3.0-or-later
#include "document/settings.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <memory>

namespace webloom::settings {

namespace {

const QString kGroup = QStringLiteral("startup");
const QString kFirstdir = QStringLiteral("firstdir");
const QString kHostmei = QStringLiteral("hostmei");

QString &overridePath()
{
    static QString path;
    return path;
}

std::unique_ptr<QSettings> openStore()
{
    if (!overridePath().isEmpty())
        return std::make_unique<QSettings>(overridePath(), QSettings::IniFormat);
    // With "webloom" as the organisation and no application name the store is
    // the single file <config>/webloom.ini, which is what an application
    // without an organisation should own.
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("webloom"));
}

QString readValue(const QString &key)
{
    const std::unique_ptr<QSettings> store = openStore();
    if (store->status() != QSettings::NoError)
        return QString();
    return store->value(kGroup + QLatin1Char('/') + key).toString();
}

void saveValue(const QString &key, const QString &value)
{
    const std::unique_ptr<QSettings> store = openStore();
    // A store that could not be read is left alone rather than rewritten from
    // what little was understood of it; a store that cannot be written is
    // skipped before QSettings caches the value for the rest of the run.
    if (store->status() != QSettings::NoError || !store->isWritable())
        return;
    store->setValue(kGroup + QLatin1Char('/') + key, value);
    store->sync();
}

} // namespace

void useFile(const QString &path)
{
    overridePath() = path;
}

QString storePath()
{
    return openStore()->fileName();
}

void saveFirstdir()
{
    saveValue(kFirstdir, QDir::toNativeSeparators(QDir::currentPath()));
}

QString readFirstdir()
{
    return readValue(kFirstdir);
}

QString readHostmei()
{
    return readValue(kHostmei);
}

void saveHostmei(const QString &value)
{
    saveValue(kHostmei, value);
}

namespace {

// One group per file or folder, named after its path without the characters
// a key cannot hold.
QString pathGroup(const QString &prefix, const QString &path)
{
    const QByteArray bytes = QFileInfo(path).absoluteFilePath().toUtf8();
    return prefix + QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().left(24));
}

QString publishGroup(const QString &baseFolder)
{
    return pathGroup(QStringLiteral("publish/"), baseFolder);
}

} // namespace

PublishChoice readPublishChoice(const QString &baseFolder)
{
    PublishChoice choice;
    const std::unique_ptr<QSettings> store = openStore();
    if (store->status() != QSettings::NoError)
        return choice;
    store->beginGroup(publishGroup(baseFolder));
    choice.connection = store->value(QStringLiteral("connection")).toString();
    choice.remote = store->value(QStringLiteral("remote")).toString();
    choice.parallel = store->value(QStringLiteral("parallel"), 2).toInt();
    choice.webPhotos = store->value(QStringLiteral("webPhotos"), true).toBool();
    choice.photoSize = store->value(QStringLiteral("photoSize"), 1600).toInt();
    return choice;
}

void savePublishChoice(const QString &baseFolder, const PublishChoice &choice)
{
    const std::unique_ptr<QSettings> store = openStore();
    if (store->status() != QSettings::NoError || !store->isWritable())
        return;
    store->beginGroup(publishGroup(baseFolder));
    store->setValue(QStringLiteral("folder"), QFileInfo(baseFolder).absoluteFilePath());
    store->setValue(QStringLiteral("connection"), choice.connection);
    store->setValue(QStringLiteral("remote"), choice.remote);
    store->setValue(QStringLiteral("parallel"), choice.parallel);
    store->setValue(QStringLiteral("webPhotos"), choice.webPhotos);
    store->setValue(QStringLiteral("photoSize"), choice.photoSize);
    store->endGroup();
    store->sync();
}

namespace {

QString webAddressGroup(const QString &baseFolder, const QString &connection)
{
    const QByteArray bytes = QFileInfo(baseFolder).absoluteFilePath().toUtf8() + '\n' + connection.toUtf8();
    return QStringLiteral("webaddress/") +
           QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().left(24));
}

} // namespace

std::optional<QString> readWebAddress(const QString &baseFolder, const QString &connection)
{
    const std::unique_ptr<QSettings> store = openStore();
    const QString key = webAddressGroup(baseFolder, connection) + QStringLiteral("/address");
    if (store->status() != QSettings::NoError || !store->contains(key))
        return std::nullopt;
    return store->value(key).toString();
}

void saveWebAddress(const QString &baseFolder, const QString &connection, const QString &address)
{
    const std::unique_ptr<QSettings> store = openStore();
    if (store->status() != QSettings::NoError || !store->isWritable())
        return;
    store->beginGroup(webAddressGroup(baseFolder, connection));
    store->setValue(QStringLiteral("folder"), QFileInfo(baseFolder).absoluteFilePath());
    store->setValue(QStringLiteral("connection"), connection);
    store->setValue(QStringLiteral("address"), address);
    store->endGroup();
    store->sync();
}

bool readPasswordsStayInFile(const QString &registryPath)
{
    const std::unique_ptr<QSettings> store = openStore();
    if (store->status() != QSettings::NoError)
        return false;
    return store->value(pathGroup(QStringLiteral("keyring/"), registryPath) + QStringLiteral("/stayInFile")).toBool();
}

void savePasswordsStayInFile(const QString &registryPath)
{
    const std::unique_ptr<QSettings> store = openStore();
    if (store->status() != QSettings::NoError || !store->isWritable())
        return;
    store->beginGroup(pathGroup(QStringLiteral("keyring/"), registryPath));
    store->setValue(QStringLiteral("file"), QFileInfo(registryPath).absoluteFilePath());
    store->setValue(QStringLiteral("stayInFile"), true);
    store->endGroup();
    store->sync();
}

QString desktopFolder()
{
    const QString path = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (path.isEmpty() || !QFileInfo(path).isDir())
        return QString();
    return QDir::toNativeSeparators(path);
}

} // namespace webloom::settings
