#pragma once

#include <QObject>
#include <QString>

#include "document/prompter.h"
#include "upload/ftp_view.h"
#include "upload/transfer.h"

namespace webloom {

// The protocol side of the FTP window: connect and disconnect, the remote
// list, and the remote operations behind the window's buttons. Requests go
// through the one Transfer, one at a time: every operation waits until the
// transfer is idle before it starts its request, and the state handler reads
// each result according to the keyword of the last request started
// (lastcmd).
//
// Waiting runs the event loop, so other handlers of the window (and the state
// handler) can run nested inside a wait; a nested handler waits in its turn.
// The window may be closed during a wait: the session must be destroyed
// together with the view and the transfer (e.g. all owned by the window), and
// an operation whose session went away during a wait returns at once.
class FtpSession : public QObject {
    Q_OBJECT
public:
    // The two captions of Command1; the caption is the connected flag.
    static const QString kConnectCaption;    // "接　続": not connected
    static const QString kDisconnectCaption; // "切　断": connected

    FtpSession(FtpView &view, Transfer &transfer, Prompter &prompter, QObject *parent = nullptr);

    const QString &lastcmd() const { return lastcmd_; }
    const QString &getfile() const { return getfile_; }
    bool connected() const;

    // Command1: connects when the caption is "接　続", disconnects otherwise.
    void connectOrDisconnect();
    // The window is closing: ends the session when connected; never refuses.
    void unload();

    // Lists the server's current directory into lstDir and waits for it.
    // Returns false when the session went away during the wait.
    bool hstref();
    // Deletes one server file; neither asks nor refreshes. Returns false when
    // the session went away during the wait.
    bool hstdel(const QString &name);

    // Double-click in lstDir: changes into the current entry when it is a
    // directory (ends with "/"); files are ignored.
    void changeDirectory();
    // Command4: makes the directory named by Text4 (trimmed).
    void makeDirectory();
    // Command5: removes the directory at lstDir's current entry.
    void removeDirectory();
    // Command10: deletes the selected server entries.
    void deleteSelected();
    // Command6 "＞＞": uploads the selected local files.
    void upload();
    // Command7 "＜＜": downloads the selected server entries into Dir1's folder.
    void download();

    // The transfer's state notification (connected in the constructor).
    void onStateChanged(int state);

signals:
    // Byte progress of the running upload or download (total -1 when unknown).
    void progress(qint64 done, qint64 total);
    // An upload or download of one file starts: file number of count files
    // selected when the operation began (number counts from 1).
    void fileStarted(const QString &name, int number, int count);

private:
    bool waitUntilIdle();
    void start(const QString &keyword, const QString &command);
    void startClose();
    void sendPendingClose();
    void readListing();
    void drainDownload();
    bool askDelete(const QString &name);
    QString localPath(const QString &name) const;

    FtpView &view_;
    Transfer &transfer_;
    Prompter &prompter_;
    QString lastcmd_;
    QString getfile_;
    // A CLOSE asked for while a request ran: sent once the transfer is idle,
    // with the address of the session it ends.
    bool closePending_ = false;
    QString pendingCloseUrl_;
    // A CLOSE is running; its final state says nothing about lastcmd.
    bool closeRunning_ = false;
};

} // namespace webloom
