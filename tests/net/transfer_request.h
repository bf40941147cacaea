// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Running one request of a real transfer to its end, for the tests that talk
// to servers on 127.0.0.1.

#include <QSignalSpy>
#include <QStringList>

#include <gtest/gtest.h>

#include "net/transfer.h"

namespace webloom::test {

constexpr int kTransferWaitMs = 30000;

// Starts one request and waits for its outcome; checks the parts of the
// contract every request must keep.
inline TransferOutcome request(Transfer &transfer, const TransferRequest &request)
{
    QSignalSpy spy(&transfer, &Transfer::finished);
    transfer.start(request);
    EXPECT_TRUE(transfer.busy());
    EXPECT_EQ(spy.count(), 0) << "outcome delivered inside start()";
    if (!spy.wait(kTransferWaitMs)) {
        ADD_FAILURE() << "no outcome";
        return {};
    }
    EXPECT_FALSE(transfer.busy());
    EXPECT_EQ(spy.count(), 1);
    return spy.first().first().value<TransferOutcome>();
}

// A listing's entries as the window shows them, folders with a "/".
inline QStringList shown(const TransferOutcome &outcome)
{
    QStringList out;
    for (const RemoteEntry &entry : outcome.entries)
        out.append(entry.directory ? entry.name + QLatin1Char('/') : entry.name);
    return out;
}

} // namespace webloom::test
