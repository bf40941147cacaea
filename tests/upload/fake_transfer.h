#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

#include "upload/transfer.h"

namespace webloom::test {

// A scripted Transfer. Every request stays busy for busyPeriod milliseconds,
// sends an unrelated state code first, then (for PUT and GET) two progress
// reports, and ends with 12, or 11 when its command text is in failing. A
// request started while busy is refused as the contract says: 11, queued.
class FakeTransfer : public Transfer {
    Q_OBJECT
public:
    QString url() const override;
    void execute(const QString &url, const QString &command) override;
    bool busy() const override
    {
        ++busyReads;
        return busy_;
    }
    QByteArray nextChunk(int size, ChunkKind kind) override;
    QString lastReply() const override { return QString(); }

    // Script.
    QByteArray listing = "\r\n";     // response data of every DIR
    QHash<QString, QByteArray> data; // response data by command text
    QSet<QString> failing;           // command texts that end with 11
    int busyPeriod = 0;              // milliseconds
    // Run synchronously inside execute(), and queued while the request runs.
    std::function<void(const QString &command)> onExecute;
    std::function<void(const QString &command)> whileBusy;

    // Record.
    QStringList commands; // accepted command texts, in order
    QStringList urls;     // the url argument of each accepted command
    QStringList refused;  // command texts started while busy
    QList<ChunkKind> chunkKinds;
    int oddChunkSizes = 0; // nextChunk calls asking for other than 1024
    mutable int busyReads = 0;

private:
    bool busy_ = false;
    QByteArray response_;
    qsizetype readPos_ = 0;
};

} // namespace webloom::test
