// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/protocol_dialect.h"

#include "net/ftp_dialect.h"
#include "net/sftp_dialect.h"

namespace webloom {

std::unique_ptr<ProtocolDialect> ProtocolDialect::forAddress(const ServerAddress &address)
{
    if (address.isSftp())
        return std::make_unique<SftpDialect>(address);
    return std::make_unique<FtpDialect>(address);
}

bool ProtocolDialect::refusesMoreConnections(const QString &reply) const
{
    return reply.startsWith(QLatin1String("421")) || reply.contains(QLatin1String("too many"), Qt::CaseInsensitive);
}

} // namespace webloom
