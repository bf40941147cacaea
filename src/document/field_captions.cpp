// SPDX-License-Identifier: GPL-3.0-or-later
#include "document/field_captions.h"

namespace webloom {

namespace {

struct Caption {
    Field field;
    const char *tab; // nullptr for the folder line above the tabs
    const char *text;
};

// The captions as the tabs show them, shortened to their first part where the
// window adds an example or a hint.
const Caption kCaptions[] = {
    {Field::Label1, nullptr, "基準パソコンディレクトリ"},
    {Field::Text1, "共通設定項目", "自分のトップホームページアドレス"},
    {Field::Text2, "共通設定項目", "自分のメールアドレス"},
    {Field::Text11, "共通設定項目", "掲示板がある時の掲示板のタイトル"},
    {Field::Text12, "共通設定項目", "掲示板のアドレス"},
    {Field::Text42, "トップページ", "タイトル左にバナーを貼る場合"},
    {Field::Text13, "トップページ", "トップページのタイトル"},
    {Field::Text21, "トップページ", "トップページのタイトル（ﾌｧｲﾙ名）"},
    {Field::Text29, "トップページ", "トップページ写真説明"},
    {Field::Text22, "トップページ", "トップページ写真説明（ﾌｧｲﾙ名orｱﾄﾞﾚｽ）"},
    {Field::Text14, "トップページ", "サブＨＰタイトル１"},
    {Field::Text23, "トップページ", "サブＨＰタイトル１（ﾌｧｲﾙ名）"},
    {Field::Text15, "トップページ", "サブＨＰタイトル２"},
    {Field::Text24, "トップページ", "サブＨＰタイトル２（ﾌｧｲﾙ名）"},
    {Field::Text16, "トップページ", "写真ＨＰタイトル１"},
    {Field::Text25, "トップページ", "写真ＨＰタイトル１（ﾌｧｲﾙ名）"},
    {Field::Text17, "トップページ", "写真ＨＰタイトル２"},
    {Field::Text26, "トップページ", "写真ＨＰタイトル２（ﾌｧｲﾙ名）"},
    {Field::Text18, "トップページ", "写真ＨＰタイトル３"},
    {Field::Text27, "トップページ", "写真ＨＰタイトル３（ﾌｧｲﾙ名）"},
    {Field::Text19, "トップページ", "写真ＨＰタイトル４"},
    {Field::Text28, "トップページ", "写真ＨＰタイトル４（ﾌｧｲﾙ名）"},
    {Field::Text20, "トップページ", "写真ＨＰタイトル５"},
    {Field::Text30, "トップページ", "写真ＨＰタイトル５（ﾌｧｲﾙ名）"},
    {Field::Text50, "トップページ", "カウンターを入れる時ここに記述"},
    {Field::Text45, "トップページ", "自己紹介ある時、ファイル名を入れる"},
    {Field::Text46, "トップページ", "リンク集ある時、ファイル名を入れる"},
    {Field::Text48, "サブＨＰ", "サブホームページのタイトル"},
    {Field::Text49, "サブＨＰ", "サブホームページのファイル名"},
    {Field::Text3, "写真ＨＰ", "写真ﾊﾟｿｺﾝﾃﾞｨﾚｸﾄﾘ"},
    {Field::Text4, "写真ＨＰ", "ファイル名を変更"},
    {Field::Text5, "写真ＨＰ", "写真の拡張子"},
    {Field::Text6, "写真ＨＰ", "写真URLﾍﾞｰｽｱﾄﾞﾚｽ"},
    {Field::Text7, "写真ＨＰ", "１つのＨＰの写真数"},
    {Field::Text8, "写真ＨＰ", "トップのタイトル"},
    {Field::Text10, "写真ＨＰ", "サブタイトル"},
    {Field::Text9, "写真ＨＰ", "写真ＨＰファイル名"},
    {Field::Text31, "自己紹介ＨＰ", "名　前"},
    {Field::Text32, "自己紹介ＨＰ", "誕　生　日"},
    {Field::Text33, "自己紹介ＨＰ", "趣　味（１行目）"},
    {Field::Text34, "自己紹介ＨＰ", "趣　味（２行目）"},
    {Field::Text35, "自己紹介ＨＰ", "持っている資格（１行目）"},
    {Field::Text36, "自己紹介ＨＰ", "持っている資格（２行目）"},
    {Field::Text37, "自己紹介ＨＰ", "ひとこと（１行目）"},
    {Field::Text38, "自己紹介ＨＰ", "ひとこと（２行目）"},
    {Field::Text39, "自己紹介ＨＰ", "ひとこと（３行目）"},
    {Field::Text44, "自己紹介ＨＰ", "トップページで指定したファイル名"},
    {Field::Text43, "リンクＨＰ", "トップページで指定したファイル名"},
};

QString tabbed(const char *tab, const QString &caption)
{
    return QString::fromUtf8(tab) + QStringLiteral("／") + caption;
}

} // namespace

QString fieldCaption(Field f)
{
    for (const Caption &c : kCaptions) {
        if (c.field == f)
            return c.tab ? tabbed(c.tab, QString::fromUtf8(c.text)) : QString::fromUtf8(c.text);
    }
    return fieldName(f);
}

QString bodyLineCaption(qsizetype line)
{
    return tabbed("サブＨＰ", QStringLiteral("サブホームページ内容 %1行目").arg(line));
}

QString linkItemCaption(qsizetype index)
{
    return tabbed("リンクＨＰ", QStringLiteral("リンクのリスト %1番目").arg(index + 1));
}

} // namespace webloom
