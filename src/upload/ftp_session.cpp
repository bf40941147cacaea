#include "upload/ftp_session.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QSaveFile>
#include <QStringList>

#include "pages/page_frame.h"

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

const QString kDownloadFailed = QStringLiteral("ダウンロードに失敗しました");

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
        return kDownloadFailed;
    if (lastcmd == kPut)
        return QStringLiteral("アップロードに失敗しました");
    return QString(); // DELETE and nothing yet: silent
}

bool isDirectoryEntry(const QString &entry)
{
    return entry.endsWith(QLatin1Char('/'));
}

// Entries are counted live: a handler run inside a wait may have replaced
// the lists meanwhile.
int countSelectedFiles(const FtpView &view)
{
    int n = 0;
    for (int i = 0; i < view.file1Count(); ++i)
        n += view.file1Selected(i) ? 1 : 0;
    return n;
}

int countSelectedEntries(const FtpView &view)
{
    int n = 0;
    for (int i = 0; i < view.lstDirCount(); ++i)
        n += view.lstDirSelected(i) ? 1 : 0;
    return n;
}

} // namespace

FtpSession::FtpSession(FtpView &view, Transfer &transfer, Prompter &prompter, QObject *parent)
    : QObject(parent), view_(view), transfer_(transfer), prompter_(prompter)
{
    connect(&transfer_, &Transfer::stateChanged, this, &FtpSession::onStateChanged);
    connect(&transfer_, &Transfer::progress, this, &FtpSession::progress);
}

bool FtpSession::connected() const
{
    return view_.command1Caption() == kDisconnectCaption;
}

// Sleeps in the event loop until the transfer is idle, so the window keeps
// repainting and answering without spinning the processor. Any handler the
// user starts meanwhile runs nested in here and waits in its turn.
bool FtpSession::waitUntilIdle()
{
    QPointer<FtpSession> alive(this);
    for (;;) {
        while (transfer_.busy()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
            if (!alive)
                return false;
        }
        if (!closePending_)
            return true;
        sendPendingClose();
    }
}

void FtpSession::start(const QString &keyword, const QString &command)
{
    lastcmd_ = keyword;
    transfer_.execute(transfer_.url(), command);
}

void FtpSession::startClose()
{
    if (transfer_.busy()) {
        // The transfer would refuse it and report the refusal as the failure
        // of the running request; send it when that request has ended.
        if (!closePending_)
            pendingCloseUrl_ = transfer_.url();
        closePending_ = true;
        return;
    }
    closePending_ = false;
    closeRunning_ = true;
    transfer_.execute(transfer_.url(), QStringLiteral("CLOSE"));
}

void FtpSession::sendPendingClose()
{
    if (!closePending_ || transfer_.busy())
        return;
    closePending_ = false;
    closeRunning_ = true;
    transfer_.execute(pendingCloseUrl_, QStringLiteral("CLOSE"));
}

void FtpSession::connectOrDisconnect()
{
    if (view_.command1Caption() == kConnectCaption) {
        transfer_.setHost(view_.text1());
        transfer_.setUser(view_.text2());
        transfer_.setPassword(view_.text3());
        view_.setLstDirEnabled(false);
        view_.setCommand1Enabled(false);
        if (!waitUntilIdle())
            return;
        start(kDir, kDir);
        view_.setCommand1Caption(kDisconnectCaption);
        view_.setCommand1Enabled(true);
        view_.setConnectionFieldsEnabled(false);
        return;
    }
    view_.setCommand1Enabled(false);
    startClose();
    view_.setCommand1Caption(kConnectCaption);
    view_.setCommand1Enabled(true);
    view_.setConnectionFieldsEnabled(true);
}

void FtpSession::unload()
{
    if (connected())
        startClose();
}

bool FtpSession::hstref()
{
    view_.setLstDirEnabled(false);
    if (!waitUntilIdle())
        return false;
    start(kDir, kDir);
    if (!waitUntilIdle())
        return false;
    view_.setLstDirEnabled(true);
    return true;
}

bool FtpSession::hstdel(const QString &name)
{
    if (!waitUntilIdle())
        return false;
    start(kDelete, kDelete + QLatin1Char(' ') + name);
    return waitUntilIdle();
}

void FtpSession::changeDirectory()
{
    const QString entry = view_.lstDirItem(view_.lstDirCurrentIndex());
    if (!isDirectoryEntry(entry))
        return;
    view_.setLstDirEnabled(false);
    const QString name = entry.chopped(1);
    if (!waitUntilIdle())
        return;
    start(kCd, kCd + QLatin1Char(' ') + name);
    if (!waitUntilIdle())
        return;
    start(kDir, kDir);
}

void FtpSession::makeDirectory()
{
    view_.setCommand4Enabled(false);
    const QString name = trimSpaces(view_.text4());
    if (name.isEmpty()) {
        prompter_.message(QStringLiteral("下にディレクトリ名を入れて下さい。"));
    } else {
        if (!waitUntilIdle())
            return;
        start(kMkdir, kMkdir + QLatin1Char(' ') + name);
        if (!waitUntilIdle())
            return;
        start(kDir, kDir);
        view_.setText4(QString());
    }
    view_.setCommand4Enabled(true);
}

void FtpSession::removeDirectory()
{
    view_.setLstDirEnabled(false);
    const QString entry = view_.lstDirItem(view_.lstDirCurrentIndex());
    if (isDirectoryEntry(entry)) {
        const QString name = entry.chopped(1);
        if (!waitUntilIdle())
            return;
        start(kRmdir, kRmdir + QLatin1Char(' ') + name);
        if (!waitUntilIdle())
            return;
        start(kDir, kDir);
    } else {
        prompter_.message(QStringLiteral("上のディレクトリを選んで下さい。"));
    }
    view_.setLstDirEnabled(true);
}

bool FtpSession::askDelete(const QString &name)
{
    return prompter_.question(QStringLiteral("ファイル削除確認"),
                              framedQuestion(name + QStringLiteral(" のファイルを削除します")));
}

void FtpSession::deleteSelected()
{
    bool any = false;
    for (int i = 0; i < view_.lstDirCount(); ++i) {
        if (!view_.lstDirSelected(i))
            continue;
        any = true;
        const QString name = view_.lstDirItem(i);
        if (view_.check2() || askDelete(name)) {
            if (!hstdel(name))
                return;
        }
    }
    if (any)
        hstref();
    else
        prompter_.message(QStringLiteral("ファイルが選択されていません"));
}

void FtpSession::upload()
{
    if (!waitUntilIdle())
        return;
    const int count = countSelectedFiles(view_);
    int number = 0;
    for (int i = 0; i < view_.file1Count(); ++i) {
        if (!view_.file1Selected(i))
            continue;
        const QString name = view_.file1Item(i);
        bool onServer = false;
        for (int j = 0; j < view_.lstDirCount() && !onServer; ++j)
            onServer = view_.lstDirItem(j) == name;
        if (onServer && (view_.check2() || askDelete(name))) {
            if (!hstdel(name))
                return;
        }
        view_.setLstDirEnabled(false);
        ++number;
        emit fileStarted(name, number, qMax(count, number));
        start(kPut, kPut + QLatin1Char(' ') + name + QLatin1Char(' ') + name);
        if (!waitUntilIdle())
            return;
        view_.setLstDirEnabled(true);
    }
    if (!hstref())
        return;
    prompter_.message(QStringLiteral("アップロードが終了しました"));
}

// Only a plain name can stand for a file in the local folder: a remote entry
// such as "../x" or "a/b" must not reach outside it.
QString FtpSession::localPath(const QString &name) const
{
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name == QLatin1String(".") || name == QLatin1String(".."))
        return QString();
    return QDir(view_.dir1Path()).filePath(name);
}

void FtpSession::download()
{
    if (!waitUntilIdle())
        return;
    // GET stores the fetched file under its bare name in the working folder.
    QDir::setCurrent(view_.dir1Path());
    const int count = countSelectedEntries(view_);
    int number = 0;
    for (int i = 0; i < view_.lstDirCount(); ++i) {
        if (view_.lstDirSelected(i)) {
            getfile_ = view_.lstDirItem(i);
            const QString name = getfile_;
            const QString path = localPath(getfile_);
            if (!path.isEmpty() && QFileInfo(path).isFile()) {
                if (view_.check1() || askDelete(getfile_))
                    QFile::remove(path);
            }
            view_.setLstDirEnabled(false);
            ++number;
            emit fileStarted(name, number, qMax(count, number));
            start(kGet, kGet + QLatin1Char(' ') + name + QLatin1Char(' ') + getfile_);
            if (!waitUntilIdle())
                return;
            view_.setLstDirEnabled(true);
        }
        view_.refreshFile1();
    }
    prompter_.message(QStringLiteral("ダウンロードが終了しました"));
}

void FtpSession::onStateChanged(int state)
{
    if (state != Transfer::kStateError && state != Transfer::kStateCompleted)
        return;
    if (closeRunning_) {
        // The end of a CLOSE: the remote list and lastcmd stay as they were.
        closeRunning_ = false;
        return;
    }
    QPointer<FtpSession> alive(this);
    if (state == Transfer::kStateCompleted) {
        if (lastcmd_ == kDir)
            readListing();
        else if (lastcmd_ == kGet)
            drainDownload();
    } else {
        const QString text = errorMessage(lastcmd_);
        if (!text.isEmpty())
            prompter_.message(text);
        if (alive)
            view_.setLstDirEnabled(true);
    }
    // The notification is still being delivered; the transfer turns idle
    // once it returns.
    if (alive && closePending_)
        QMetaObject::invokeMethod(this, &FtpSession::sendPendingClose, Qt::QueuedConnection);
}

// Between chunks the window repaints, but user input waits: a handler started
// here would find the transfer busy until this notification returns, and
// could never finish its wait.
void FtpSession::readListing()
{
    QPointer<FtpSession> alive(this);
    QByteArray data;
    QByteArray chunk = transfer_.nextChunk(Transfer::kChunkSize, Transfer::ChunkKind::Text);
    while (!chunk.isEmpty()) {
        data += chunk;
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        if (!alive)
            return;
        chunk = transfer_.nextChunk(Transfer::kChunkSize, Transfer::ChunkKind::Text);
    }
    // Decoded as a whole: a chunk may end inside a character.
    const QString text = QString::fromUtf8(data);

    QStringList entries;
    qsizetype pos = 0;
    for (;;) {
        const qsizetype cr = text.indexOf(QLatin1Char('\r'), pos);
        if (cr < 0 || cr == pos)
            break;
        const QString line = text.mid(pos, cr - pos);
        if (line != QLatin1String("./"))
            entries.append(line);
        pos = cr + 2;
    }
    if (!entries.contains(kParent))
        entries.prepend(kParent);
    view_.setLstDirItems(entries);
    view_.setLstDirEnabled(true);
}

// A transfer that stores the fetched file itself delivers no data, and the
// file is left as stored. Data that does arrive is written to a new file,
// complete or not at all; a local file the user chose to keep is not
// overwritten.
void FtpSession::drainDownload()
{
    QPointer<FtpSession> alive(this);
    QByteArray chunk = transfer_.nextChunk(Transfer::kChunkSize, Transfer::ChunkKind::Bytes);
    if (chunk.isEmpty())
        return;
    const QString path = localPath(getfile_);
    QSaveFile file(path);
    bool ok = !path.isEmpty() && !QFileInfo::exists(path) && file.open(QIODevice::WriteOnly);
    while (!chunk.isEmpty()) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        if (!alive)
            return;
        if (ok)
            ok = file.write(chunk) == chunk.size();
        chunk = transfer_.nextChunk(Transfer::kChunkSize, Transfer::ChunkKind::Bytes);
    }
    if (ok)
        ok = file.commit();
    if (!ok)
        prompter_.message(kDownloadFailed);
}

} // namespace webloom
