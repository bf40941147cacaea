#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <optional>

namespace webloom {

// A command text of the transfer control taken apart. Names are kept exactly
// as given (no trimming): listings may hold names with leading spaces.
struct TransferCommand {
    enum class Kind { Dir, Cd, Mkdir, Rmdir, Delete, Put, Get, Close };
    Kind kind = Kind::Dir;
    QString first;  // CD/MKDIR/RMDIR/DELETE: the name; PUT: local; GET: remote
    QString second; // PUT: remote name; GET: local name
};

// Keywords are matched without regard to case. "PUT" and "GET" carry two
// names joined by one space with no quoting, so a name with spaces is
// ambiguous; the session always sends the same name twice, so an argument
// made of two equal halves around its middle space is split there, any other
// at its first space, and a single name stands for both. Returns nothing for
// an unknown keyword or a missing name.
std::optional<TransferCommand> parseTransferCommand(const QString &text);

// The transfer control behind the FTP session: one request at a time, run in
// the background, reported through a state notification.
//
// Contract (the session relies on every point):
// - busy() is true from execute() until the request's final state (11 or 12)
//   has been delivered through stateChanged on the owner's thread.
// - Every request ends with exactly one of kStateError or kStateCompleted.
// - execute() while busy refuses the request: it delivers kStateError for it
//   (queued, never re-entrantly) and leaves the running request alone.
// - "DIR" delivers its listing through nextChunk(): one entry per line, each
//   line ended by CR LF, directories marked by a trailing "/", the whole
//   followed by one empty line; text is UTF-8.
// - "PUT" and "GET" move the named files in binary; "GET" stores the local
//   file itself (no chunks). Neither replaces an existing target: such a
//   request ends with kStateError.
class Transfer : public QObject {
    Q_OBJECT
public:
    static constexpr int kStateError = 11;
    static constexpr int kStateCompleted = 12;
    static constexpr int kChunkSize = 1024;
    enum class ChunkKind { Text = 0, Bytes = 1 };

    using QObject::QObject;
    ~Transfer() override = default;

    void setHost(const QString &host) { host_ = host; }
    void setUser(const QString &user) { user_ = user; }
    void setPassword(const QString &password) { password_ = password; }
    const QString &host() const { return host_; }
    const QString &user() const { return user_; }
    const QString &password() const { return password_; }

    // Addresses the logged-in session; every request passes it back.
    virtual QString url() const = 0;
    // Starts a request ("DIR", "CD x", "MKDIR x", "RMDIR x", "DELETE x",
    // "PUT local remote", "GET remote local", "CLOSE"); returns at once.
    virtual void execute(const QString &url, const QString &command) = 0;
    virtual bool busy() const = 0;
    // The next piece of the last request's response data; empty when there
    // is no more.
    virtual QByteArray nextChunk(int size, ChunkKind kind) = 0;
    // The server's last reply line, for messages and the log.
    virtual QString lastReply() const = 0;

signals:
    void stateChanged(int state);
    // Byte progress of the running PUT or GET; total is -1 when unknown.
    void progress(qint64 done, qint64 total);

private:
    QString host_;
    QString user_;
    QString password_;
};

} // namespace webloom
