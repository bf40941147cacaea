#include "fake_transfer.h"

#include <QTimer>

namespace webloom::test {

QString FakeTransfer::url() const
{
    return QStringLiteral("ftp://%1@%2/").arg(user(), host());
}

void FakeTransfer::execute(const QString &url, const QString &command)
{
    if (busy_) {
        refused.append(command);
        QMetaObject::invokeMethod(
            this, [this] { emit stateChanged(kStateError); }, Qt::QueuedConnection);
        return;
    }
    busy_ = true;
    commands.append(command);
    urls.append(url);
    if (onExecute)
        onExecute(command);
    QMetaObject::invokeMethod(
        this, [this] { emit stateChanged(8); }, Qt::QueuedConnection);
    if (whileBusy)
        QMetaObject::invokeMethod(
            this, [this, command] { whileBusy(command); }, Qt::QueuedConnection);
    const bool transfers = command.startsWith(QLatin1String("PUT ")) || command.startsWith(QLatin1String("GET "));
    if (transfers) {
        QMetaObject::invokeMethod(
            this, [this] { emit progress(50, 100); }, Qt::QueuedConnection);
        QMetaObject::invokeMethod(
            this, [this] { emit progress(100, 100); }, Qt::QueuedConnection);
    }
    const bool fails = failing.contains(command);
    QByteArray response = command == QLatin1String("DIR") ? listing : data.value(command);
    QTimer::singleShot(busyPeriod, this, [this, fails, response] {
        response_ = fails ? QByteArray() : response;
        readPos_ = 0;
        // The contract's strictest reading: busy until the notification has
        // been delivered.
        emit stateChanged(fails ? kStateError : kStateCompleted);
        busy_ = false;
    });
}

QByteArray FakeTransfer::nextChunk(int size, ChunkKind kind)
{
    chunkKinds.append(kind);
    oddChunkSizes += size == kChunkSize ? 0 : 1;
    const QByteArray chunk = response_.mid(readPos_, size);
    readPos_ += chunk.size();
    return chunk;
}

} // namespace webloom::test
