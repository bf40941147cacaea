// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "document/prompter.h"
#include "controllers/ftp_view.h"
#include "net/transfer.h"

namespace webloom {

// The protocol side of the FTP window: connect and disconnect, the remote
// list, and the remote operations behind the window's buttons.
//
// Every operation is a sequence of steps in one queue. A step either does
// its work at once (a question, a message, a control enabled) or starts one
// request; the next step starts when that request's outcome has arrived and
// the state handler has read it according to the keyword of the last request
// started (lastcmd). There is no waiting inside a handler: a button pressed
// while a sequence runs adds its own steps behind it, and the window may
// close at any moment, which simply drops the queue.
//
// What an operation sends is fixed when its button is pressed: the selected
// names and the local folder shown at that moment.
class FtpSession : public QObject {
    Q_OBJECT
public:
    // The two captions of Command1; the caption is the connected flag.
    static const QString kConnectCaption;    // "接　続": not connected
    static const QString kDisconnectCaption; // "切　断": connected

    // Asked about a failure the user may lift (a certificate or host key not
    // trusted, a server without encryption): the connection to send the
    // request again with, or nothing to give up. Without one, such a failure
    // ends the request.
    using Resolve =
        std::function<std::optional<Transfer::Connection>(const TransferOutcome &, const Transfer::Connection &)>;

    FtpSession(FtpView &view, Transfer &transfer, Prompter &prompter, Resolve resolve = {}, QObject *parent = nullptr);
    ~FtpSession() override;

    const QString &lastcmd() const { return lastcmd_; }
    const QString &getfile() const { return getfile_; }
    bool connected() const;
    // Nothing queued and no request running.
    bool idle() const { return queue_.empty() && !inFlight_; }

    // Command1: connects when the caption is "接　続", disconnects otherwise.
    // A disconnect stops what is running and drops what is queued.
    void connectOrDisconnect();
    // The window is closing: stops everything and ends the session when
    // connected; never refuses.
    void unload();

    // Lists the server's current directory into lstDir.
    void hstref();
    // Deletes one server file; neither asks nor refreshes.
    void hstdel(const QString &name);

    // Double-click in lstDir: changes into the current entry when it is a
    // directory (ends with "/"); files are ignored.
    void changeDirectory();
    // Command4: makes the directory named by Text4 (trimmed).
    void makeDirectory();
    // Command5: removes the directory at lstDir's current entry.
    void removeDirectory();
    // Command10: deletes the selected server entries.
    void deleteSelected();
    // Command6 "＞＞": uploads the selected local files from Dir1's folder.
    void upload();
    // Command7 "＜＜": downloads the selected server entries into Dir1's folder.
    void download();

signals:
    // Byte progress of the running upload or download (total -1 when unknown).
    void progress(qint64 done, qint64 total);
    // An upload or download of one file starts: file number of count files
    // selected when the operation began (number counts from 1).
    void fileStarted(const QString &name, int number, int count);
    // Every file of an upload or download went, the listing is fresh, and
    // the message that says so comes next.
    void batchEnded();
    // The queue has run dry.
    void becameIdle();

private:
    using Step = std::function<void()>;

    // New operations go behind everything queued; the steps a running step
    // expands into go first, before the rest of its own operation.
    void later(Step step);
    void first(std::vector<Step> steps);
    void pump();
    // Starts a request; the step that calls it must end there.
    void send(const QString &keyword, const TransferRequest &request);
    void sendClose();
    void stop();
    void onFinished(const TransferOutcome &outcome);
    // A failure the user can resolve (an unknown certificate, a server
    // without encryption): true when the request is to be sent again.
    bool resolve(const TransferOutcome &outcome);
    // The states of a finished request as the window's algorithms number
    // them; the handler reads the transfer's outcome through them.
    static constexpr int kStateError = 11;
    static constexpr int kStateCompleted = 12;
    static int stateOf(const TransferOutcome &outcome) { return outcome.ok ? kStateCompleted : kStateError; }
    void stateHandler(int state, const TransferOutcome &outcome);
    void readListing(const TransferOutcome &outcome);

    std::vector<Step> refreshSteps();
    Step deleteStep(const QString &name);
    bool askDelete(const QString &name);
    static QString localPath(const QString &folder, const QString &name);

    FtpView &view_;
    Transfer &transfer_;
    Prompter &prompter_;
    Resolve resolve_;
    // The running request, to send again once the user has resolved its
    // failure.
    QString runningKeyword_;
    TransferRequest runningRequest_;
    QString lastcmd_;
    QString getfile_;
    std::deque<Step> queue_;
    bool inFlight_ = false;
    // The running request is a CLOSE: its outcome says nothing about lastcmd.
    bool closeInFlight_ = false;
    bool pumping_ = false;
};

} // namespace webloom
