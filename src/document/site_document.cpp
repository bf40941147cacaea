// SPDX-License-Identifier: GPL-3.0-or-later
#include "document/site_document.h"

#include <QDir>
#include <QRegularExpression>

namespace webloom {

namespace {

const std::array<FieldInfo, kFieldCount> kFields{{
    {Field::Label1, "Label1", "", "ki001"},
    {Field::Text1, "Text1", "http://", "te001"},
    {Field::Text2, "Text2", "", "te002"},
    {Field::Text3, "Text3", "", "te003"},
    {Field::Text4, "Text4", "", "te004"},
    {Field::Text5, "Text5", "", "te005"},
    {Field::Text6, "Text6", "http://", "te006"},
    {Field::Text7, "Text7", "20", "te007"},
    {Field::Text8, "Text8", "", "te008"},
    {Field::Text9, "Text9", "", "te009"},
    {Field::Text10, "Text10", "", "te010"},
    {Field::Text11, "Text11", "", "te011"},
    {Field::Text12, "Text12", "http://", "te012"},
    {Field::Text13, "Text13", "", "te013"},
    {Field::Text14, "Text14", "", "te014"},
    {Field::Text15, "Text15", "", "te015"},
    {Field::Text16, "Text16", "", "te016"},
    {Field::Text17, "Text17", "", "te017"},
    {Field::Text18, "Text18", "", "te018"},
    {Field::Text19, "Text19", "", "te019"},
    {Field::Text20, "Text20", "", "te020"},
    {Field::Text21, "Text21", "index.html", "te021"},
    {Field::Text22, "Text22", "", "te022"},
    {Field::Text23, "Text23", "", "te023"},
    {Field::Text24, "Text24", "", "te024"},
    {Field::Text25, "Text25", "", "te025"},
    {Field::Text26, "Text26", "", "te026"},
    {Field::Text27, "Text27", "", "te027"},
    {Field::Text28, "Text28", "", "te028"},
    {Field::Text29, "Text29", "", "te029"},
    {Field::Text30, "Text30", "", "te030"},
    {Field::Text31, "Text31", "", "te031"},
    {Field::Text32, "Text32", "", "te032"},
    {Field::Text33, "Text33", "", "te033"},
    {Field::Text34, "Text34", "", "te034"},
    {Field::Text35, "Text35", "", "te035"},
    {Field::Text36, "Text36", "", "te036"},
    {Field::Text37, "Text37", "", "te037"},
    {Field::Text38, "Text38", "", "te038"},
    {Field::Text39, "Text39", "", "te039"},
    {Field::Text40, "Text40", "", nullptr},
    {Field::Text41, "Text41", "http://", nullptr},
    {Field::Text42, "Text42", "http://", "te042"},
    {Field::Text43, "Text43", "link.html", "te043"},
    {Field::Text44, "Text44", "self.html", "te044"},
    {Field::Text45, "Text45", "", "te045"},
    {Field::Text46, "Text46", "", "te046"},
    {Field::Text47, "Text47", "", nullptr},
    {Field::Text48, "Text48", "", "te048"},
    {Field::Text49, "Text49", "", "te049"},
    {Field::Text50, "Text50", "", "te050"},
    {Field::Text51, "Text51", "", nullptr},
    {Field::Label93, "Label93", "", nullptr},
}};

} // namespace

const std::array<FieldInfo, kFieldCount> &fieldTable()
{
    return kFields;
}

const FieldInfo &fieldInfo(Field f)
{
    return kFields[static_cast<int>(f)];
}

QString fieldName(Field f)
{
    return QString::fromLatin1(fieldInfo(f).name);
}

std::optional<Field> fieldByName(QStringView name)
{
    for (const FieldInfo &info : kFields) {
        if (name == QLatin1StringView(info.name))
            return info.field;
    }
    return std::nullopt;
}

QString listName(ListId id)
{
    return QStringLiteral("List%1").arg(static_cast<int>(id) + 1);
}

SiteDocument::SiteDocument(QObject *parent) : QObject(parent)
{
    for (const FieldInfo &info : kFields)
        texts_[static_cast<int>(info.field)] = QString::fromUtf8(info.defaultValue);
    texts_[static_cast<int>(Field::Label1)] = QDir::toNativeSeparators(QDir::currentPath());
}

void SiteDocument::setText(Field f, const QString &value)
{
    QString &slot = texts_[static_cast<int>(f)];
    if (slot == value)
        return;
    slot = value;
    emit textChanged(f);
}

void SiteDocument::setList(ListId id, const QStringList &items)
{
    lists_[static_cast<int>(id)] = items;
    emit listChanged(id);
}

void SiteDocument::clearList(ListId id)
{
    lists_[static_cast<int>(id)].clear();
    emit listChanged(id);
}

void SiteDocument::appendItem(ListId id, const QString &item)
{
    lists_[static_cast<int>(id)].append(item);
    emit listChanged(id);
}

QString SiteDocument::item(ListId id, qsizetype index) const
{
    const QStringList &l = list(id);
    return index >= 0 && index < l.size() ? l.at(index) : QString();
}

bool SiteDocument::removeItem(ListId id, qsizetype index)
{
    QStringList &l = lists_[static_cast<int>(id)];
    if (index < 0 || index >= l.size())
        return false;
    l.removeAt(index);
    emit listChanged(id);
    return true;
}

bool SiteDocument::replaceItem(ListId id, qsizetype index, const QString &item)
{
    QStringList &l = lists_[static_cast<int>(id)];
    if (index < 0 || index >= l.size())
        return false;
    l[index] = item;
    emit listChanged(id);
    return true;
}

void SiteDocument::setRtext1(const QString &text)
{
    if (rtext1_ == text)
        return;
    rtext1_ = text;
    emit rtext1Changed();
}

QStringList SiteDocument::bodyLines() const
{
    if (rtext1_.isEmpty())
        return {};
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\n|\r"));
    QStringList lines = rtext1_.split(lineBreak);
    // "a\n" is one line, not two: the final break only ends the last line.
    if (lines.size() > 1 && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

void SiteDocument::setBodyLines(const QStringList &lines)
{
    QString text;
    for (const QString &line : lines) {
        text += line;
        text += QLatin1Char('\n');
    }
    setRtext1(text);
}

bool SiteDocument::pointFile1(const QString &folder)
{
    if (!file1_.setFolder(folder))
        return false;
    emit file1Changed();
    return true;
}

bool SiteDocument::refreshFile1()
{
    if (!file1_.refresh())
        return false;
    emit file1Changed();
    return true;
}

void SiteDocument::clearFile1()
{
    file1_.clear();
    emit file1Changed();
}

void SiteDocument::setPageOptions(const PageOptions &options)
{
    if (options == options_)
        return;
    options_ = options;
    emit pageOptionsChanged();
}

void SiteDocument::setCurrentTab(int tab)
{
    if (tab == currentTab_)
        return;
    currentTab_ = tab;
    emit currentTabChanged(tab);
}

} // namespace webloom
