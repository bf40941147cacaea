// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <thread>

#include "net/http_fetch.h"

namespace webloom {

// A page as it was sent: its name in the server folder and its bytes' hash.
struct SentPage {
    QString name;
    QByteArray sha256; // hex
    qint64 size = 0;
};

struct PageCheck {
    enum class Status { Ok, Missing, Differs, Charset, Unreachable };
    QString name;
    QString url;
    Status status = Status::Ok;
    long httpStatus = 0;
    bool fromCache = false;
    QString servedCharset; // from the Content-Type header, as the server spells it
    QString pageCharset;   // as the page declares it, or "Shift_JIS"
    QString error;         // no answer: why
};

// "ok", "missing", "differs", "charset" or "unreachable".
QString statusWord(PageCheck::Status status);

// The folder part of a web address ("http://host/~me/index.html" gives
// "http://host/~me/"), with a final "/"; empty for an empty address, the
// default "http://", and anything that is not an http or https address.
QString webFolder(const QString &address);

// The encoding a page's bytes declare in a <meta> charset or http-equiv
// line, or "Shift_JIS" when they declare none.
QString declaredCharset(const QByteArray &page);

// Compares one answer with the page that was sent. A 404 or 410 is
// missing; other bytes, another status or a 304 differ; equal bytes served
// with a charset header that names another encoding than the page's own are
// "charset".
PageCheck judgePage(const SentPage &sent, const HttpReply &reply);

// One plain Japanese paragraph about the results for the window: the
// confirmation with the address, or what went wrong and what usually fixes
// it. remoteFolder is the server folder as the user typed it.
QString checkSummary(const QList<PageCheck> &checks, const QString &webAddress, const QString &remoteFolder);
bool allOk(const QList<PageCheck> &checks);

// Fetches the pages from the web address after a publish, off the caller's
// thread, and reports once. Destroying it stops the fetches.
class LiveCheck : public QObject {
    Q_OBJECT
public:
    LiveCheck(QString webAddress, QList<SentPage> pages, QObject *parent = nullptr);
    ~LiveCheck() override;

    void start(const HttpFetchOptions &options = {});

signals:
    void finished(const QList<webloom::PageCheck> &checks);

private:
    QString webAddress_;
    QList<SentPage> pages_;
    std::shared_ptr<std::atomic_bool> stop_ = std::make_shared<std::atomic_bool>(false);
    std::thread worker_;
};

} // namespace webloom

Q_DECLARE_METATYPE(webloom::PageCheck)
