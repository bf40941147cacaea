// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace webloom {

// One entry of a remote folder as the program shows it.
struct RemoteEntry {
    QString name;       // as text: UTF-8, or code page 932 for older servers
    QByteArray rawName; // the server's own bytes, sent back unchanged
    bool directory = false;
    qint64 size = -1;   // -1 when the listing does not say
    QDateTime modified; // invalid when the listing does not say
};

} // namespace webloom
