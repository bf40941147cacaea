// SPDX-License-Identifier: GPL-3.0-or-later
#include "pages/photo_tools.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>

#include "document/file_name.h"
#include "pages/photo_pages.h"

namespace webloom {

namespace {

const QString kNoFolder = QStringLiteral("写真パソコンディレクトリを指定していません。");
const QString kNoFiles = QStringLiteral("ファイルがありません。");

bool sameFile(const QByteArray &a, const QByteArray &b)
{
    struct stat sa;
    struct stat sb;
    return ::lstat(a.constData(), &sa) == 0 && ::lstat(b.constData(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// The failure exit shared by both tools: the message, and File1 brought up to
// date so that it shows the renames done before the failure.
ToolResult failureExit(SiteDocument &doc, Prompter &prompter)
{
    doc.refreshFile1();
    prompter.message(kNoFolder);
    return ToolResult::Failed;
}

} // namespace

QString serialFileName(const QString &stemField, qsizetype index, const QString &oldName)
{
    const qsizetype dot = oldName.indexOf(QLatin1Char('.'));
    const QString extension = dot < 0 ? QString() : oldName.mid(dot);
    return serialName(stemField, index + 1, extension);
}

bool renameInFolder(const QString &folder, const QString &from, const QString &to)
{
    if (folder.isEmpty() || !isPlainFileName(from) || !isPlainFileName(to))
        return false;
    const QDir dir(folder);
    const QByteArray source = QFile::encodeName(dir.filePath(from));
    const QByteArray target = QFile::encodeName(dir.filePath(to));
    struct stat st;
    if (from == to)
        return ::lstat(source.constData(), &st) == 0;

    // RENAME_NOREPLACE makes "never replace" atomic: no other program can slip
    // a file in between a test and the rename.
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return true;
    const int error = errno;
    if (error != EEXIST && error != EINVAL && error != ENOSYS)
        return false;
    if (::lstat(target.constData(), &st) == 0) {
        // Where case is ignored, "A.JPG" finds itself under "a.jpg": that is a
        // change of case, not a clash.
        if (from.compare(to, Qt::CaseInsensitive) == 0 && sameFile(source, target))
            return std::rename(source.constData(), target.constData()) == 0;
        return false;
    }
    if (error == EEXIST)
        return false;
    // A file system without RENAME_NOREPLACE: the test above has to do.
    return std::rename(source.constData(), target.constData()) == 0;
}

ToolResult serialRename(SiteDocument &doc, Prompter &prompter)
{
    // An empty Text3 fails here as well: the listing never falls back to the
    // current folder.
    if (!doc.pointFile1(doc.text(Field::Text3)))
        return failureExit(doc, prompter);
    const QString stem = doc.text(Field::Text4);
    if (stem.isEmpty()) {
        prompter.message(QStringLiteral("ファイル名を入力して下さい。"));
        doc.refreshFile1();
        return ToolResult::Refused;
    }
    // The listing is taken once; the new names must not come round again.
    const QStringList names = doc.file1().names();
    const QString folder = doc.file1().folder();
    if (names.isEmpty()) {
        prompter.message(kNoFiles);
        doc.refreshFile1();
        return ToolResult::Refused;
    }
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (!renameInFolder(folder, names.at(i), serialFileName(stem, i, names.at(i))))
            return failureExit(doc, prompter);
    }
    doc.refreshFile1();
    return ToolResult::Done;
}

ToolResult addExtension(SiteDocument &doc, Prompter &prompter)
{
    const QString extension = doc.text(Field::Text5);
    if (extension.isEmpty()) {
        prompter.message(QStringLiteral("拡張子を入力して下さい。"));
        doc.refreshFile1();
        return ToolResult::Refused;
    }
    // Without a photo folder there is nothing safe to work on, whatever File1
    // last showed.
    if (doc.text(Field::Text3).isEmpty() || !doc.refreshFile1())
        return failureExit(doc, prompter);
    const QStringList names = doc.file1().names();
    const QString folder = doc.file1().folder();
    if (names.isEmpty()) {
        prompter.message(kNoFiles);
        return ToolResult::Refused;
    }
    for (const QString &name : names) {
        if (name.contains(QLatin1Char('.')))
            continue;
        if (!renameInFolder(folder, name, (name + QLatin1Char('.') + extension).toLower()))
            return failureExit(doc, prompter);
    }
    doc.refreshFile1();
    return ToolResult::Done;
}

bool fm1end(SiteDocument &doc, Prompter &prompter, int purpose, const QString &text1,
            const std::function<void()> &saveFirstdir)
{
    if (purpose == ChooserBaseFolder) {
        doc.setText(Field::Label1, text1);
        if (saveFirstdir)
            saveFirstdir();
        return true;
    }
    if (purpose != ChooserPhotoFolder)
        return true;

    // A relative text would mean something else once the current folder has
    // moved into it.
    const QString folder = text1.isEmpty() || QDir::isAbsolutePath(text1) ? text1 : QDir(text1).absolutePath();
    FileList listing;
    if (folder.isEmpty() || !listing.setFolder(folder) || !QDir::setCurrent(folder)) {
        prompter.message(missingPhotoFolderMessage(text1));
        return false;
    }
    doc.setText(Field::Text3, folder);
    doc.pointFile1(folder);
    return true;
}

} // namespace webloom
