// SPDX-License-Identifier: GPL-3.0-or-later
#include "document/lost_characters.h"

#include "document/cp932.h"
#include "document/field_captions.h"

namespace webloom {

namespace {

// A question box stays readable: the first places and the first characters
// of each, then how many more.
constexpr qsizetype kMaxPlaces = 8;
constexpr qsizetype kMaxCharacters = 10;

void collect(QList<LostCharacters> &lost, const QString &where, const QString &text)
{
    const QString characters = cp932::lossyCharacters(text);
    if (!characters.isEmpty())
        lost.append({where, characters});
}

// At most kMaxCharacters characters, a surrogate pair counting as one.
QString shortened(const QString &characters)
{
    qsizetype count = 0;
    for (qsizetype i = 0; i < characters.size(); ++i) {
        if (characters.at(i).isLowSurrogate())
            continue;
        if (++count > kMaxCharacters)
            return characters.left(i) + QStringLiteral("…");
    }
    return characters;
}

} // namespace

QList<LostCharacters> lostInProject(const SiteDocument &doc)
{
    QList<LostCharacters> lost;
    for (const FieldInfo &info : fieldTable()) {
        if (info.key)
            collect(lost, fieldCaption(info.field), doc.text(info.field));
    }
    const QStringList &links = doc.list(ListId::List3);
    for (qsizetype i = 0; i < links.size(); ++i)
        collect(lost, linkItemCaption(i), links.at(i));
    lost += lostInBody(doc.list(ListId::List4));
    return lost;
}

QList<LostCharacters> lostInBody(const QStringList &lines)
{
    QList<LostCharacters> lost;
    for (qsizetype i = 0; i < lines.size(); ++i)
        collect(lost, bodyLineCaption(i + 1), lines.at(i));
    return lost;
}

bool confirmLostCharacters(Prompter &prompter, const QList<LostCharacters> &lost)
{
    if (lost.isEmpty())
        return true;
    QString text = QStringLiteral("次の文字は Shift-JIS で保存できないため、「?」か近い文字に置き換わります。\n");
    for (qsizetype i = 0; i < lost.size() && i < kMaxPlaces; ++i)
        text += lost.at(i).where + QStringLiteral("：") + shortened(lost.at(i).characters) + QLatin1Char('\n');
    if (lost.size() > kMaxPlaces)
        text += QStringLiteral("ほか %1か所\n").arg(lost.size() - kMaxPlaces);
    text += QStringLiteral("このまま保存しますか？（「いいえ」で入力に戻ります）");
    return prompter.question(QStringLiteral("保存できない文字"), framedQuestion(text));
}

} // namespace webloom
