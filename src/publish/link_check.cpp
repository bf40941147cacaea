// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/link_check.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>

#include <optional>

#include "document/cp932.h"
#include "document/field_captions.h"
#include "document/spaces.h"
#include "pages/link_page.h"

namespace webloom {

namespace {

struct Source {
    QString caption;
    QString text;
};

void addFields(QList<Source> &sources, const SiteDocument &doc, std::initializer_list<Field> fields)
{
    for (Field f : fields)
        sources.append({fieldCaption(f), doc.text(f)});
}

// The fields whose text reaches a page of that name, those that are a whole
// address first, so that a link is named after the field that holds exactly
// it rather than one that mentions it.
QList<Source> sourcesFor(const SiteDocument &doc, const QString &pageName)
{
    QList<Source> sources;
    if (pageName == QFileInfo(doc.text(Field::Text21)).fileName()) {
        addFields(sources, doc,
                  {Field::Text23, Field::Text24, Field::Text25, Field::Text26, Field::Text27, Field::Text28,
                   Field::Text30, Field::Text45, Field::Text46, Field::Text22, Field::Text42, Field::Text1,
                   Field::Text12, Field::Text13, Field::Text50, Field::Text29, Field::Text14, Field::Text15,
                   Field::Text16, Field::Text17, Field::Text18, Field::Text19, Field::Text20, Field::Text11});
        return sources;
    }
    addFields(sources, doc, {Field::Text1, Field::Text12});
    if (pageName == trimSpaces(doc.text(Field::Text44))) {
        addFields(sources, doc,
                  {Field::Text31, Field::Text32, Field::Text33, Field::Text34, Field::Text35, Field::Text36,
                   Field::Text37, Field::Text38, Field::Text39});
    } else if (pageName == trimSpaces(doc.text(Field::Text43))) {
        const QStringList &items = doc.list(ListId::List3);
        for (qsizetype i = 0; i < items.size(); ++i)
            sources.append({linkItemCaption(i), splitLinkItem(items.at(i)).address});
        for (qsizetype i = 0; i < items.size(); ++i)
            sources.append({linkItemCaption(i), items.at(i)});
    } else if (pageName == trimSpaces(doc.text(Field::Text49))) {
        addFields(sources, doc, {Field::Text48});
        const QStringList &lines = doc.list(ListId::List4);
        for (qsizetype i = 0; i < lines.size(); ++i)
            sources.append({bodyLineCaption(i + 1), lines.at(i)});
    } else {
        // A photo page: its pictures are the photo folder's files.
        addFields(sources, doc, {Field::Text8, Field::Text10, Field::Text11});
        sources.append({fieldCaption(Field::Text3), QString()});
        return sources;
    }
    addFields(sources, doc, {Field::Text11});
    return sources;
}

QString captionOf(const QList<Source> &sources, const QString &target)
{
    for (const Source &source : sources) {
        if (!source.text.isEmpty() && source.text.contains(target))
            return source.caption;
    }
    // Only the photo pages write addresses of their own making: their
    // list ends with the photo folder, holding no text.
    return sources.last().text.isEmpty() ? sources.last().caption : QString();
}

QString pageText(const QByteArray &bytes)
{
    static const QRegularExpression kUtf8(QStringLiteral("<meta[^>]*charset\\s*=\\s*[\"']?\\s*utf-?8"),
                                          QRegularExpression::CaseInsensitiveOption);
    const QString head = QString::fromLatin1(bytes.left(4096));
    return kUtf8.match(head).hasMatch() ? QString::fromUtf8(bytes) : cp932::decode(bytes);
}

// The path inside the server folder, or nothing for a link that is not
// checked here.
std::optional<QStringList> relativePath(QString target)
{
    static const QRegularExpression kScheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:"));
    target = target.trimmed();
    if (target.isEmpty() || target.startsWith(QLatin1Char('#')) || target.startsWith(QLatin1Char('/')) ||
        target.startsWith(QLatin1Char('\\')) || kScheme.match(target).hasMatch())
        return std::nullopt;
    const qsizetype end = target.indexOf(QRegularExpression(QStringLiteral("[?#]")));
    if (end >= 0)
        target.truncate(end);
    target.replace(QStringLiteral("&amp;"), QStringLiteral("&"));
    target = QUrl::fromPercentEncoding(target.toUtf8());
    QStringList path;
    const QStringList parts = target.split(QLatin1Char('/'));
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QString &part = parts.at(i);
        if (part == QLatin1String("..")) {
            if (path.isEmpty())
                return std::nullopt; // outside the folder, which the listing does not show
            path.removeLast();
        } else if (part.isEmpty() && i + 1 < parts.size()) {
            continue;
        } else if (part != QLatin1String(".")) {
            path.append(part);
        }
    }
    if (path.isEmpty() || (path.size() == 1 && path.first().isEmpty()))
        return std::nullopt; // the folder itself
    return path;
}

} // namespace

QList<PageLink> pageLinks(const SiteDocument &doc, const QString &pageName, const QByteArray &bytes)
{
    static const QRegularExpression kBase(QStringLiteral("<base\\s[^>]*href\\s*=\\s*[\"']?([^\"'\\s>]+)"),
                                          QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression kAttribute(
        QStringLiteral("<[A-Za-z][^>]*?\\s(?:href|src)\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)'|([^\\s>\"']+))"),
        QRegularExpression::CaseInsensitiveOption);
    const QString text = pageText(bytes);
    QList<PageLink> links;
    if (kBase.match(text).hasMatch())
        return links;
    const QList<Source> sources = sourcesFor(doc, pageName);
    QSet<QString> seen;
    for (auto it = kAttribute.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        QString target = match.captured(1);
        if (match.capturedLength(2) > 0)
            target = match.captured(2);
        if (match.capturedLength(3) > 0)
            target = match.captured(3);
        const std::optional<QStringList> path = relativePath(target);
        if (!path || seen.contains(target))
            continue;
        seen.insert(target);
        links.append({pageName, captionOf(sources, target), target, *path});
    }
    return links;
}

QList<PageLink> siteLinks(const SiteDocument &doc, const SiteFiles &site)
{
    QList<PageLink> links;
    for (const LocalFile &file : site.files) {
        QFile page(file.path);
        if (file.kind == LocalFile::Kind::Page && page.open(QIODevice::ReadOnly))
            links += pageLinks(doc, file.name, page.readAll());
    }
    return links;
}

QList<PageLink> brokenLinks(const QList<PageLink> &links, const SiteFiles &site, const QList<RemoteEntry> &remote)
{
    QSet<QString> files, folders;
    for (const LocalFile &file : site.files)
        files.insert(file.name);
    for (const RemoteEntry &entry : remote)
        (entry.directory ? folders : files).insert(entry.name);
    QList<PageLink> broken;
    for (const PageLink &link : links) {
        const QString &first = link.path.first();
        const bool there =
            link.path.size() == 1 ? files.contains(first) || folders.contains(first) : folders.contains(first);
        if (!there)
            broken.append(link);
    }
    return broken;
}

} // namespace webloom
