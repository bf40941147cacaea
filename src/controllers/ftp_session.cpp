// SPDX-License-Identifier: GPL-3.0-or-later
#include "controllers/ftp_session.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QStringList>

#include "document/file_name.h"
#include "document/spaces.h"
#include "net/address.h"
#include "net/trust_prompt.h"

namespace webloom {

const QString FtpSession::kConnectCaption = QStringLiteral("接　続");
const QString FtpSession::kDisconnectCaption = QStringLiteral("切　断");

namespace {

const QString kDir = QStringLiteral("DIR");
const QString kCd = QStringLiteral("CD");
const QString kMkdir = QStringLiteral("MKDIR");
const QString kRmdir = QStringLiteral("RMDIR");
const QString kDelete = QStringLiteral("DELETE");
const QString kPut = QStringLiteral("PUT");
const QString kGet = QStringLiteral("GET");
const QString kParent = QStringLiteral("../");

QString errorMessage(const QString &lastcmd)
{
    if (lastcmd == kDir)
        return QStringLiteral("ディレクトリを読み取れませんでした");
    if (lastcmd == kCd)
        return QStringLiteral("ディレクトリを移動できませんでした");
    if (lastcmd == kMkdir)
        return QStringLiteral("ディレクトリを作成できませんでした");
    if (lastcmd == kRmdir)
        return QStringLiteral("ディレクトリを削除できませんでした。\r\n"
                              "ディレクトリの下にファイルがあると\r\n"
                              "ディレクトリは、削除出来ません。");
    if (lastcmd == kGet)
        return QStringLiteral("ダウンロードに失敗しました");
    if (lastcmd == kPut)
        return QStringLiteral("アップロードに失敗しました");
    return QString(); // DELETE and nothing yet: silent
}

bool isDirectoryEntry(const QString &entry)
{
    return entry.endsWith(QLatin1Char('/'));
}

} // namespace

FtpSession::FtpSession(FtpView &view, Transfer &transfer, Prompter &prompter, Resolve resolve, QObject *parent)
    : QObject(parent), view_(view), transfer_(transfer), prompter_(prompter), resolve_(std::move(resolve))
{
    connect(&transfer_, &Transfer::finished, this, &FtpSession::onFinished);
    connect(&transfer_, &Transfer::progress, this, &FtpSession::progress);
}

FtpSession::~FtpSession()
{
    queue_.clear();
    if (inFlight_)
        transfer_.cancel();
}

bool FtpSession::connected() const
{
    return view_.command1Caption() == kDisconnectCaption;
}

void FtpSession::later(Step step)
{
    queue_.push_back(std::move(step));
    pump();
}

void FtpSession::first(std::vector<Step> steps)
{
    for (auto it = steps.rbegin(); it != steps.rend(); ++it)
        queue_.push_front(std::move(*it));
}

// Runs steps until one starts a request or the queue is empty. A step may
// show a modal question, during which events are delivered; nothing there can
// start a request, since none starts while a step runs.
void FtpSession::pump()
{
    if (pumping_)
        return;
    const QPointer<FtpSession> alive(this);
    pumping_ = true;
    while (!inFlight_ && !queue_.empty()) {
        Step step = std::move(queue_.front());
        queue_.pop_front();
        step();
        if (!alive)
            return;
    }
    pumping_ = false;
    if (idle())
        emit becameIdle();
}

void FtpSession::send(const QString &keyword, const TransferRequest &request)
{
    runningKeyword_ = keyword;
    runningRequest_ = request;
    lastcmd_ = keyword;
    inFlight_ = true;
    transfer_.start(request);
}

void FtpSession::sendClose()
{
    inFlight_ = true;
    closeInFlight_ = true;
    transfer_.start(TransferRequest::close());
}

// Ends what runs and what waits: the running request is stopped (its outcome
// says nothing to the user), the queued steps are dropped, and the controls
// they would have switched back on are switched on now.
void FtpSession::stop()
{
    queue_.clear();
    if (inFlight_ && !closeInFlight_)
        transfer_.cancel();
    view_.setLstDirEnabled(true);
    view_.setCommand4Enabled(true);
}

void FtpSession::onFinished(const TransferOutcome &outcome)
{
    if (!inFlight_)
        return;
    inFlight_ = false;
    if (closeInFlight_) {
        // The end of a CLOSE: the remote list and lastcmd stay as they were.
        closeInFlight_ = false;
    } else if (outcome.failure != TransferOutcome::Failure::Cancelled) {
        const QPointer<FtpSession> alive(this);
        const bool again = resolve(outcome);
        if (!alive)
            return;
        if (again) {
            first({[this, keyword = runningKeyword_, request = runningRequest_] { send(keyword, request); }});
        } else {
            stateHandler(stateOf(outcome), outcome);
            if (!alive)
                return;
        }
    }
    pump();
}

bool FtpSession::resolve(const TransferOutcome &outcome)
{
    using Failure = TransferOutcome::Failure;
    if (!resolve_ || (outcome.failure != Failure::Untrusted && outcome.failure != Failure::NoTls))
        return false;
    const Transfer::Connection before = transfer_.connection();
    const std::optional<Transfer::Connection> again = resolve_(outcome, before);
    if (!again)
        return false;
    transfer_.setConnection(*again);
    if (again->address != before.address)
        view_.useAddress(again->address);
    return true;
}

void FtpSession::stateHandler(int state, const TransferOutcome &outcome)
{
    if (state == kStateCompleted) {
        // A GET stores the fetched file itself; only a listing has data.
        if (lastcmd_ == kDir)
            readListing(outcome);
        return;
    }
    if (state != kStateError)
        return;
    const QPointer<FtpSession> alive(this);
    const QString secure = secureFailureMessage(outcome);
    const QString text = secure.isEmpty() ? errorMessage(lastcmd_) : secure;
    if (!text.isEmpty())
        prompter_.message(text);
    if (alive)
        view_.setLstDirEnabled(true);
}

void FtpSession::readListing(const TransferOutcome &outcome)
{
    QStringList entries;
    for (const RemoteEntry &entry : outcome.entries) {
        const QString line = entry.directory ? entry.name + QLatin1Char('/') : entry.name;
        if (line != QLatin1String("./"))
            entries.append(line);
    }
    if (!entries.contains(kParent))
        entries.prepend(kParent);
    view_.setLstDirItems(entries);
    view_.setLstDirEnabled(true);
}

void FtpSession::connectOrDisconnect()
{
    if (view_.command1Caption() == kConnectCaption) {
        const Transfer::Connection connection{view_.text1(), view_.text2(), view_.text3()};
        view_.setLstDirEnabled(false);
        view_.setCommand1Enabled(false);
        later([this, connection] {
            transfer_.setConnection(connection);
            send(kDir, TransferRequest::list());
            view_.setCommand1Caption(kDisconnectCaption);
            view_.setCommand1Enabled(true);
            view_.setConnectionFieldsEnabled(false);
        });
        return;
    }
    view_.setCommand1Enabled(false);
    stop();
    later([this] { sendClose(); });
    view_.setCommand1Caption(kConnectCaption);
    view_.setCommand1Enabled(true);
    view_.setConnectionFieldsEnabled(true);
}

void FtpSession::unload()
{
    const bool wasConnected = connected();
    stop();
    if (wasConnected)
        later([this] { sendClose(); });
}

std::vector<FtpSession::Step> FtpSession::refreshSteps()
{
    return {[this] {
                view_.setLstDirEnabled(false);
                send(kDir, TransferRequest::list());
            },
            [this] { view_.setLstDirEnabled(true); }};
}

FtpSession::Step FtpSession::deleteStep(const QString &name)
{
    return [this, name] { send(kDelete, TransferRequest::remove(name)); };
}

void FtpSession::hstref()
{
    for (Step &step : refreshSteps())
        queue_.push_back(std::move(step));
    pump();
}

void FtpSession::hstdel(const QString &name)
{
    later(deleteStep(name));
}

void FtpSession::changeDirectory()
{
    const QString entry = view_.lstDirItem(view_.lstDirCurrentIndex());
    if (!isDirectoryEntry(entry))
        return;
    view_.setLstDirEnabled(false);
    const QString name = entry.chopped(1);
    queue_.push_back([this, name] { send(kCd, TransferRequest::cd(name)); });
    later([this] { send(kDir, TransferRequest::list()); });
}

void FtpSession::makeDirectory()
{
    view_.setCommand4Enabled(false);
    const QString name = trimSpaces(view_.text4());
    if (name.isEmpty()) {
        prompter_.message(QStringLiteral("下にディレクトリ名を入れて下さい。"));
        view_.setCommand4Enabled(true);
        return;
    }
    queue_.push_back([this, name] { send(kMkdir, TransferRequest::mkdir(name)); });
    later([this] {
        send(kDir, TransferRequest::list());
        view_.setText4(QString());
        view_.setCommand4Enabled(true);
    });
}

void FtpSession::removeDirectory()
{
    view_.setLstDirEnabled(false);
    const QString entry = view_.lstDirItem(view_.lstDirCurrentIndex());
    if (!isDirectoryEntry(entry)) {
        prompter_.message(QStringLiteral("上のディレクトリを選んで下さい。"));
        view_.setLstDirEnabled(true);
        return;
    }
    const QString name = entry.chopped(1);
    queue_.push_back([this, name] { send(kRmdir, TransferRequest::rmdir(name)); });
    later([this] {
        send(kDir, TransferRequest::list());
        view_.setLstDirEnabled(true);
    });
}

bool FtpSession::askDelete(const QString &name)
{
    return prompter_.question(QStringLiteral("ファイル削除確認"),
                              framedQuestion(name + QStringLiteral(" のファイルを削除します")));
}

void FtpSession::deleteSelected()
{
    QStringList selected;
    for (int i = 0; i < view_.lstDirCount(); ++i) {
        if (view_.lstDirSelected(i))
            selected.append(view_.lstDirItem(i));
    }
    if (selected.isEmpty()) {
        prompter_.message(QStringLiteral("ファイルが選択されていません"));
        return;
    }
    for (const QString &name : selected) {
        queue_.push_back([this, name] {
            if (view_.check2() || askDelete(name))
                first({deleteStep(name)});
        });
    }
    hstref();
}

void FtpSession::upload()
{
    // The files are those selected now, in the folder shown now; whatever
    // happens to the local pane meanwhile does not change them.
    const QString folder = view_.dir1Path();
    QStringList names;
    for (int i = 0; i < view_.file1Count(); ++i) {
        if (view_.file1Selected(i))
            names.append(view_.file1Item(i));
    }
    const int count = int(names.size());
    for (int number = 1; number <= count; ++number) {
        const QString name = names.at(number - 1);
        queue_.push_back([this, name] {
            bool onServer = false;
            for (int j = 0; j < view_.lstDirCount() && !onServer; ++j)
                onServer = view_.lstDirItem(j) == name;
            if (onServer && (view_.check2() || askDelete(name)))
                first({deleteStep(name)});
        });
        queue_.push_back([this, folder, name, number, count] {
            view_.setLstDirEnabled(false);
            emit fileStarted(name, number, count);
            send(kPut, TransferRequest::put(QDir(folder).filePath(name), name));
        });
        queue_.push_back([this] { view_.setLstDirEnabled(true); });
    }
    for (Step &step : refreshSteps())
        queue_.push_back(std::move(step));
    later([this] {
        emit batchEnded();
        prompter_.message(QStringLiteral("アップロードが終了しました"));
    });
}

// Only a plain name can stand for a file in the local folder: a remote entry
// such as "../x" or "a/b" must not reach outside it.
QString FtpSession::localPath(const QString &folder, const QString &name)
{
    return isPlainFileName(name) ? QDir(folder).filePath(name) : QString();
}

void FtpSession::download()
{
    const QString folder = view_.dir1Path();
    struct Entry {
        QString name;
        bool selected;
    };
    QList<Entry> entries;
    int count = 0;
    for (int i = 0; i < view_.lstDirCount(); ++i) {
        entries.append({view_.lstDirItem(i), view_.lstDirSelected(i)});
        count += entries.last().selected ? 1 : 0;
    }
    queue_.push_back([folder] { QDir::setCurrent(folder); });
    int number = 0;
    for (const Entry &entry : entries) {
        if (entry.selected) {
            ++number;
            queue_.push_back([this, folder, name = entry.name, number, count] {
                getfile_ = name;
                const QString path = localPath(folder, getfile_);
                if (!path.isEmpty() && QFileInfo(path).isFile()) {
                    if (view_.check1() || askDelete(getfile_))
                        QFile::remove(path);
                }
                view_.setLstDirEnabled(false);
                emit fileStarted(name, number, count);
                send(kGet, TransferRequest::get(name, QDir(folder).filePath(getfile_)));
            });
            queue_.push_back([this] {
                view_.setLstDirEnabled(true);
                view_.refreshFile1();
            });
        } else {
            queue_.push_back([this] { view_.refreshFile1(); });
        }
    }
    later([this] {
        emit batchEnded();
        prompter_.message(QStringLiteral("ダウンロードが終了しました"));
    });
}

} // namespace webloom
