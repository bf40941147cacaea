// SPDX-License-Identifier: GPL-3.0-or-later
#include "pages/site_build.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <optional>

#include "document/file_name.h"
#include "document/project_file.h"
#include "pages/page_kinds.h"

namespace webloom {

namespace {

const QString kDefaultBase = QStringLiteral("http://");

// The boxes a page command shows, kept as text; every question is answered
// No and every dialog cancelled, as on the command line.
class RecordingPrompter : public Prompter {
public:
    void message(const QString &text) override { messages.append(text); }
    bool question(const QString &, const QString &) override { return false; }
    bool openFile(FileDialogState &) override { return false; }
    bool saveFile(FileDialogState &) override { return false; }
    QStringList messages;
};

std::optional<LocalFile> localFile(const QString &name, const QString &path, LocalFile::Kind kind,
                                   const KnownDigests &known)
{
    // A relative base or photo folder is taken, once, from the folder the
    // program runs in, as the page buttons and "webloom build" take it.
    const QString absolute = QFileInfo(path).absoluteFilePath();
    const std::optional<FileDigest> digest = fileDigest(absolute, known);
    if (!digest)
        return std::nullopt;
    LocalFile file{name, absolute, digest->stamp.size, digest->sha256, kind, std::nullopt};
    if (digest->reusable)
        file.stamp = digest->stamp;
    return file;
}

bool hasOwnAddress(const QString &field)
{
    const QString trimmed = trimSpaces(field);
    return !trimmed.isEmpty() && trimmed != kDefaultBase;
}

} // namespace

std::unique_ptr<SiteDocument> documentCopy(const SiteDocument &doc)
{
    auto copy = std::make_unique<SiteDocument>();
    QByteArray bytes = projectBytes(doc);
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    readProjectRecords(*copy, buffer);
    // UTF-8 pages keep what code page 932 cannot, so the texts are taken as
    // typed rather than as the project file keeps them.
    if (doc.pageOptions().encoding == PageEncoding::Utf8) {
        for (const FieldInfo &info : fieldTable()) {
            if (info.key)
                copy->setText(info.field, doc.text(info.field));
        }
        copy->setList(ListId::List3, doc.list(ListId::List3));
        copy->setList(ListId::List4, doc.list(ListId::List4));
    }
    // The body as the window shows it: the sub page's command turns it into
    // List4 itself.
    copy->setRtext1(doc.rtext1());
    return copy;
}

SiteFiles buildSite(SiteDocument &doc, const KnownDigests &known)
{
    SiteFiles site;
    QSet<QString> names;
    const QString base = QFileInfo(doc.text(Field::Label1)).absoluteFilePath();
    auto add = [&](const std::optional<LocalFile> &file) {
        if (file && !names.contains(file->name)) {
            names.insert(file->name);
            site.files.append(*file);
        }
    };
    bool topWritten = false;
    for (const PageKind &kind : pageKinds()) {
        RecordingPrompter prompter;
        doc.setCurrentTab(kind.tab);
        PageFrame frame(doc, prompter);
        const PageResult result = kind.command(frame);
        prompter.messages.removeAll(QStringLiteral("作成しました。"));
        if (result != PageResult::Written) {
            site.skipped.append({kind.name,
                                 prompter.messages.join(QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' ')),
                                 result == PageResult::Failed});
            continue;
        }
        topWritten = topWritten || kind.name == QLatin1String("top");
        for (const QString &path : frame.writtenFiles()) {
            const QFileInfo info(path);
            if (QFileInfo(info.absolutePath()).canonicalFilePath() != QFileInfo(base).canonicalFilePath()) {
                site.skipped.append(
                    {kind.name, QStringLiteral("%1: ベースフォルダの中にないため公開しません").arg(path), false});
                continue;
            }
            add(localFile(info.fileName(), path, LocalFile::Kind::Page, known));
            if (kind.name == QLatin1String("top"))
                site.topPage = info.fileName();
        }
        // Photos named bare in the pages live beside them on the server.
        if (kind.name == QLatin1String("photo") && !hasOwnAddress(doc.text(Field::Text6))) {
            const QDir photos(doc.text(Field::Text3));
            const QString folder = photos.canonicalPath();
            const QString inside = QFileInfo(base).canonicalFilePath() + QLatin1Char('/');
            if (!folder.isEmpty() && !(folder + QLatin1Char('/')).startsWith(inside))
                site.outsidePhotoFolder = folder;
            for (const QString &name : doc.list(ListId::List2)) {
                if (isPlainFileName(name))
                    add(localFile(name, photos.filePath(name), LocalFile::Kind::Photo, known));
            }
        }
    }
    // The top page's picture and banner, when they name a file beside it.
    for (Field field : {Field::Text22, Field::Text42}) {
        const QString name = doc.text(field).trimmed();
        if (isPlainFileName(name) && topWritten)
            add(localFile(name, QDir(base).filePath(name), LocalFile::Kind::Picture, known));
    }
    return site;
}

} // namespace webloom
