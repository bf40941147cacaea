// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/live_check.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QUrl>

#include <algorithm>

namespace webloom {

namespace {

// Encoding names as browsers match them: case, "-" and "_" do not count,
// and the Shift_JIS family is one.
QString canonical(QString name)
{
    name = name.toLower().remove(QRegularExpression(QStringLiteral("[^a-z0-9]")));
    static const QStringList kShiftJis = {
        QStringLiteral("shiftjis"),   QStringLiteral("sjis"),  QStringLiteral("xsjis"),     QStringLiteral("mskanji"),
        QStringLiteral("windows31j"), QStringLiteral("cp932"), QStringLiteral("csshiftjis")};
    if (kShiftJis.contains(name))
        return QStringLiteral("shiftjis");
    if (name == QLatin1String("utf8") || name == QLatin1String("unicode11utf8"))
        return QStringLiteral("utf8");
    return name;
}

QString headerCharset(const QString &contentType)
{
    static const QRegularExpression kCharset(QStringLiteral("charset\\s*=\\s*\"?([^\";\\s]+)"),
                                             QRegularExpression::CaseInsensitiveOption);
    return kCharset.match(contentType).captured(1);
}

QString folderText(const QString &remoteFolder)
{
    return remoteFolder.isEmpty() ? QStringLiteral("ログインした場所") : QStringLiteral("「%1」").arg(remoteFolder);
}

} // namespace

QString statusWord(PageCheck::Status status)
{
    switch (status) {
    case PageCheck::Status::Ok:
        return QStringLiteral("ok");
    case PageCheck::Status::Missing:
        return QStringLiteral("missing");
    case PageCheck::Status::Differs:
        return QStringLiteral("differs");
    case PageCheck::Status::Charset:
        return QStringLiteral("charset");
    case PageCheck::Status::Unreachable:
        return QStringLiteral("unreachable");
    }
    return {};
}

QString webFolder(const QString &address)
{
    QUrl url(address.trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return {};
    url.setQuery(QString());
    url.setFragment(QString());
    QString path = url.path();
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString last = path.mid(slash + 1);
    // "~sakura" is a folder, "index.html" a page in one.
    if (last.contains(QLatin1Char('.')))
        path.truncate(slash + 1);
    else if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    url.setPath(path);
    return url.toString(QUrl::FullyEncoded);
}

QString declaredCharset(const QByteArray &page)
{
    static const QRegularExpression kMeta(QStringLiteral("<meta[^>]*charset\\s*=\\s*[\"']?\\s*([A-Za-z0-9_.:-]+)"),
                                          QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = kMeta.match(QString::fromLatin1(page.left(8192)));
    return match.hasMatch() ? match.captured(1) : QStringLiteral("Shift_JIS");
}

PageCheck judgePage(const SentPage &sent, const HttpReply &reply)
{
    using Status = PageCheck::Status;
    PageCheck check;
    check.name = sent.name;
    check.url = reply.url;
    check.httpStatus = reply.status;
    check.fromCache = reply.fromCache;
    check.servedCharset = headerCharset(reply.contentType);
    if (reply.status == 0) {
        check.status = Status::Unreachable;
        check.error = reply.error;
        return check;
    }
    if (reply.status == 404 || reply.status == 410) {
        check.status = Status::Missing;
        return check;
    }
    const bool same = reply.status == 200 && !reply.cutShort && reply.body.size() == sent.size &&
                      QCryptographicHash::hash(reply.body, QCryptographicHash::Sha256).toHex() == sent.sha256;
    if (!same) {
        check.status = Status::Differs;
        return check;
    }
    check.pageCharset = declaredCharset(reply.body);
    if (!check.servedCharset.isEmpty() && canonical(check.servedCharset) != canonical(check.pageCharset))
        check.status = Status::Charset;
    return check;
}

bool allOk(const QList<PageCheck> &checks)
{
    return std::all_of(checks.begin(), checks.end(),
                       [](const PageCheck &c) { return c.status == PageCheck::Status::Ok; });
}

QString checkSummary(const QList<PageCheck> &checks, const QString &webAddress, const QString &remoteFolder)
{
    using Status = PageCheck::Status;
    if (allOk(checks))
        return QStringLiteral("公開を確認しました：") + webAddress;
    QStringList missing, differs, cached, unreachable;
    QStringList sentences;
    for (const PageCheck &c : checks) {
        if (c.status == Status::Missing)
            missing.append(c.name);
        if (c.status == Status::Differs)
            (c.fromCache ? cached : differs).append(c.name);
        if (c.status == Status::Unreachable && unreachable.isEmpty())
            unreachable.append(c.error);
    }
    if (!missing.isEmpty() || !differs.isEmpty()) {
        QStringList what;
        if (!missing.isEmpty())
            what.append(missing.join(QStringLiteral("、")) + QStringLiteral(" が見つかりません"));
        if (!differs.isEmpty())
            what.append(differs.join(QStringLiteral("、")) + QStringLiteral(" の中身が送ったものと違います"));
        sentences.append(
            QStringLiteral("%1 で %2。サーバーのフォルダ%3は、このアドレスで見えるフォルダではないようです。"
                           "多くのプロバイダでは public_html などのフォルダに送ります。"
                           "「サーバーのフォルダ」と「公開アドレス」を確かめてください。")
                .arg(webAddress, what.join(QStringLiteral("、")), folderText(remoteFolder)));
    }
    if (!cached.isEmpty())
        sentences.append(
            QStringLiteral("%1 で %2 が前のままです。途中のキャッシュが古いページを返しているのかもしれません。"
                           "しばらくしてから、もう一度確かめてください。")
                .arg(webAddress, cached.join(QStringLiteral("、"))));
    for (const PageCheck &c : checks) {
        if (c.status != Status::Charset)
            continue;
        const bool toUtf8 = canonical(c.servedCharset) == QLatin1String("utf8");
        const bool toShiftJis = canonical(c.servedCharset) == QLatin1String("shiftjis");
        QString fix = toUtf8 ? QStringLiteral("共通設定項目でページの文字コードを UTF-8 にすると直ります。")
                      : toShiftJis ? QStringLiteral("共通設定項目でページの文字コードを Shift_JIS にすると直ります。")
                                   : QStringLiteral("サーバーの文字コードの設定を確かめてください。");
        sentences.append(
            QStringLiteral("サーバーはページを %1 として送っていますが、ページは %2 です（文字化けします）。")
                .arg(c.servedCharset, c.pageCharset) +
            fix);
        break;
    }
    if (!unreachable.isEmpty())
        sentences.append(QStringLiteral("%1 を開けませんでした：%2").arg(webAddress, unreachable.first()));
    return sentences.join(QLatin1Char('\n'));
}

LiveCheck::LiveCheck(QString webAddress, QList<SentPage> pages, QObject *parent)
    : QObject(parent), webAddress_(std::move(webAddress)), pages_(std::move(pages))
{
    qRegisterMetaType<QList<PageCheck>>();
}

LiveCheck::~LiveCheck()
{
    stop_->store(true);
    if (worker_.joinable())
        worker_.join();
}

void LiveCheck::start(const HttpFetchOptions &options)
{
    if (worker_.joinable())
        return;
    QStringList urls;
    for (const SentPage &page : pages_)
        urls.append(webAddress_ + QString::fromLatin1(QUrl::toPercentEncoding(page.name)));
    worker_ = std::thread([this, urls, options, stop = stop_] {
        const QList<HttpReply> replies = fetchPages(urls, options, *stop);
        QList<PageCheck> checks;
        for (qsizetype i = 0; i < replies.size(); ++i)
            checks.append(judgePage(pages_.at(i), replies.at(i)));
        if (!stop->load())
            QMetaObject::invokeMethod(
                this, [this, checks] { emit finished(checks); }, Qt::QueuedConnection);
    });
}

} // namespace webloom
