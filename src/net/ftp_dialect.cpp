// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/ftp_dialect.h"

namespace webloom {

namespace {

bool notUnderstood(long code)
{
    return code == 500 || code == 501 || code == 502 || code == 504;
}

bool positive(long code)
{
    return code >= 200 && code < 300;
}

} // namespace

FtpDialect::FtpDialect(const ServerAddress &address) : scheme_(address.scheme)
{
}

std::optional<TrustStore::Kind> FtpDialect::trustKind() const
{
    if (scheme_ == ServerAddress::Scheme::Ftp)
        return std::nullopt;
    return TrustStore::Kind::Certificate;
}

void FtpDialect::setOptions(CURL *h, PeerCheck &peer, const QByteArray &)
{
    curl_easy_setopt(h, CURLOPT_FTP_USE_EPSV, 1L);
    // The data connection goes to the server we logged in to, whatever
    // address a passive reply names (a server behind NAT often names its
    // private one; a hostile one could name a third party).
    curl_easy_setopt(h, CURLOPT_FTP_SKIP_PASV_IP, 1L);
    curl_easy_setopt(h, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD));
    if (scheme_ == ServerAddress::Scheme::Ftp) {
        curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "ftp");
        return;
    }
    // FTP over TLS: the control connection and every data connection
    // (PROT P), never falling back to plain. A server without TLS ends
    // the request before the user name is sent.
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "ftp,ftps");
    curl_easy_setopt(h, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
    curl_easy_setopt(h, CURLOPT_FTPSSLAUTH, static_cast<long>(CURLFTPAUTH_TLS));
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    // The host name is checked with the chain, where a certificate the
    // user trusts may pass without it.
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(h, CURLOPT_SSL_CTX_FUNCTION, &PeerCheck::sslContext);
    curl_easy_setopt(h, CURLOPT_SSL_CTX_DATA, &peer);
    // Servers such as vsftpd accept a data connection only when it
    // resumes the control connection's TLS session. TLS 1.3 tickets are
    // used up one per connection and arrive on a data connection only
    // if the client reads after the handshake, which an upload never
    // does, so the second data connection would be refused ("522
    // session reuse required"). TLS 1.2 sessions can be resumed again and
    // again; TLS 1.3 is used only with servers that speak nothing older.
    curl_easy_setopt(h, CURLOPT_SSLVERSION,
                     long(CURL_SSLVERSION_TLSv1_2) |
                         (tls13Only_ ? long(CURL_SSLVERSION_MAX_DEFAULT) : long(CURL_SSLVERSION_MAX_TLSv1_2)));
}

// MLSD where the server has it, LIST on the same connection where it answers
// that it does not know the command.
std::optional<ProtocolDialect::RichListing> FtpDialect::richListing() const
{
    if (mlsd_ == Mlsd::No)
        return std::nullopt;
    return RichListing{"MLSD", listing::Format::Mlsd};
}

bool FtpDialect::richListingUnknown(const CallResult &result)
{
    if (result.code != CURLE_FTP_COULDNT_RETR_FILE || !notUnderstood(result.replyCode))
        return false;
    mlsd_ = Mlsd::No;
    return true;
}

QByteArray FtpDialect::folderCommand(Folder what, const QByteArray &raw, const RemotePath &) const
{
    const char *verb = what == Folder::Make ? "MKD " : what == Folder::Remove ? "RMD " : "DELE ";
    return verb + raw;
}

QList<QByteArray> FtpDialect::renameCommands(const QByteArray &from, const QByteArray &to, const RemotePath &) const
{
    return {"RNFR " + from, "RNTO " + to};
}

bool FtpDialect::renamed(const CallResult &result) const
{
    return result.ok() && result.replyCodes.size() >= 2 && result.replyCodes.at(0) == 350 &&
           positive(result.replyCodes.at(1));
}

bool FtpDialect::renameRefused(const CallResult &result) const
{
    return result.ok() && result.replyCodes.value(0) == 350;
}

bool FtpDialect::keptConnectionsSpent()
{
    if (!ticketSpent_)
        return false;
    ticketSpent_ = false;
    return true;
}

ProtocolDialect::Retry FtpDialect::lastLook(const CallResult &result, const CurlCall &call, const PeerCheck &peer,
                                            bool download, bool stopped)
{
    // Over TLS 1.3 a data connection must resume the control
    // connection's session with a ticket from the server, and servers
    // that demand this (proftpd by default) take each ticket once only.
    // libcurl keeps one ticket and takes the next only when it reads from
    // a data connection, which an upload does not do before it closes:
    // after an upload the next data connection is refused, by a reply or,
    // for a download, by a data connection that ends at once. A fresh
    // log-in brings fresh tickets, and from then on every upload is
    // followed by one.
    const bool dataRefused =
        call.replyCode == 425 || call.replyCode == 522 ||
        (download && !call.replyCodes.isEmpty() && call.replyCodes.last() == 150 && call.moved == 0 && !result.ok());
    if (tls13Only_ && dataRefused && !stopped) {
        reuseDemanded_ = true;
        return Retry::AgainFreshLogIn;
    }
    // A server that refuses TLS 1.2 altogether gets TLS 1.3.
    if (result.code == CURLE_SSL_CONNECT_ERROR && !tls13Only_ && !peer.rejected &&
        (result.error.contains(QLatin1String("protocol version")) ||
         result.error.contains(QLatin1String("unsupported protocol")))) {
        tls13Only_ = true;
        return Retry::Again;
    }
    return Retry::No;
}

// The upload left no TLS 1.3 ticket for the next data connection.
void FtpDialect::uploaded()
{
    ticketSpent_ = tls13Only_ && reuseDemanded_;
}

// Implicit TLS always is, explicit TLS once the server accepted AUTH (234,
// or 334 from servers that still answer in the old way).
bool FtpDialect::controlEncrypted(const CallResult &result) const
{
    return scheme_ == ServerAddress::Scheme::Ftps || result.replyCodes.contains(234) || result.replyCodes.contains(334);
}

bool FtpDialect::encryptedDataRefused(const CallResult &result) const
{
    return result.replyCode == 522 && scheme_ != ServerAddress::Scheme::Ftp;
}

} // namespace webloom
