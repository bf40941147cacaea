// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

#include "net/transfer.h"

namespace webloom::test {

// A scripted Transfer. Every request stays busy for busyPeriod milliseconds,
// reports progress twice for PUT and GET, and ends ok, or failed when its
// text is in failing. A request started while busy is refused as the
// contract says (a queued failure) and recorded in refused.
//
// Requests are recorded as the FTP window's command texts ("DIR", "CD img",
// "PUT /local/folder/a.html a.html", "GET a.html /local/folder/a.html"), the
// local side as the full path the session fixed.
class FakeTransfer : public Transfer {
    Q_OBJECT
public:
    static QString describe(const TransferRequest &request);

    void start(const TransferRequest &request) override;
    bool busy() const override { return busy_; }
    void cancel() override;

    // Script.
    QStringList listing;   // every List's entries; "img/" is a directory
    QSet<QString> failing; // request texts that fail
    // Outcomes for a request text, used up one per request before the above.
    QHash<QString, QList<TransferOutcome>> outcomes;
    int busyPeriod = 0; // milliseconds
    // Run synchronously inside start(), and queued while the request runs.
    std::function<void(const QString &command)> onExecute;
    std::function<void(const QString &command)> whileBusy;

    // Record.
    QStringList commands; // accepted requests, in order
    QList<Connection> connections;
    QStringList refused; // requests started while busy
    int cancels = 0;

private:
    bool busy_ = false;
    bool cancelled_ = false;
    quint64 serial_ = 0;
};

} // namespace webloom::test
