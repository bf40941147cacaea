// SPDX-License-Identifier: GPL-3.0-or-later
#include "fake_transfer.h"

#include <QTimer>

namespace webloom::test {

QString FakeTransfer::describe(const TransferRequest &request)
{
    using Op = TransferRequest::Operation;
    switch (request.operation) {
    case Op::List:
        return QStringLiteral("DIR");
    case Op::Cd:
        return QStringLiteral("CD ") + request.remote;
    case Op::Mkdir:
        return QStringLiteral("MKDIR ") + request.remote;
    case Op::Rmdir:
        return QStringLiteral("RMDIR ") + request.remote;
    case Op::Delete:
        return QStringLiteral("DELETE ") + request.remote;
    case Op::Put:
        return QStringLiteral("PUT %1 %2").arg(request.local, request.remote);
    case Op::Get:
        return QStringLiteral("GET %1 %2").arg(request.remote, request.local);
    case Op::Rename:
        return QStringLiteral("RENAME %1 %2").arg(request.remote, request.target);
    case Op::Close:
        return QStringLiteral("CLOSE");
    }
    return {};
}

void FakeTransfer::start(const TransferRequest &request)
{
    const QString command = describe(request);
    if (busy_) {
        refused.append(command);
        TransferOutcome outcome;
        outcome.failure = TransferOutcome::Failure::Refused;
        QMetaObject::invokeMethod(
            this, [this, outcome] { emit finished(outcome); }, Qt::QueuedConnection);
        return;
    }
    busy_ = true;
    cancelled_ = false;
    const quint64 serial = ++serial_;
    commands.append(command);
    connections.append(connection());
    if (onExecute)
        onExecute(command);
    if (whileBusy)
        QMetaObject::invokeMethod(
            this, [this, command] { whileBusy(command); }, Qt::QueuedConnection);
    const bool transfers =
        request.operation == TransferRequest::Operation::Put || request.operation == TransferRequest::Operation::Get;
    if (transfers) {
        QMetaObject::invokeMethod(
            this, [this] { emit progress(50, 100); }, Qt::QueuedConnection);
        QMetaObject::invokeMethod(
            this, [this] { emit progress(100, 100); }, Qt::QueuedConnection);
    }
    TransferOutcome outcome;
    if (!outcomes.value(command).isEmpty()) {
        outcome = outcomes[command].takeFirst();
    } else {
        outcome.ok = !failing.contains(command);
        outcome.failure = outcome.ok ? TransferOutcome::Failure::None : TransferOutcome::Failure::Server;
    }
    if (outcome.ok && outcome.entries.isEmpty() && request.operation == TransferRequest::Operation::List) {
        for (const QString &line : listing) {
            RemoteEntry entry;
            entry.directory = line.endsWith(QLatin1Char('/'));
            entry.name = entry.directory ? line.chopped(1) : line;
            entry.rawName = entry.name.toUtf8();
            outcome.entries.append(entry);
        }
    }
    QTimer::singleShot(busyPeriod, this, [this, serial, outcome]() mutable {
        if (serial != serial_ || !busy_)
            return;
        if (cancelled_) {
            outcome = {};
            outcome.failure = TransferOutcome::Failure::Cancelled;
        }
        busy_ = false;
        emit finished(outcome);
    });
}

void FakeTransfer::cancel()
{
    ++cancels;
    cancelled_ = busy_;
}

} // namespace webloom::test
