// SPDX-License-Identifier: GPL-3.0-or-later
#include "document/recovery.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>

#include "document/atomic_file.h"
#include "document/project_file.h"
#include "document/prompter.h"
#include "document/site_document.h"

namespace webloom {

namespace {

// More windows than this at once keep nothing; the program still runs.
constexpr int kSlots = 64;
// A recovery file is a project file; anything far larger is not ours.
constexpr qint64 kLargest = 256 * 1024 * 1024;

const QString kOffer = QStringLiteral("前回保存されていない入力があります。復元しますか？");

} // namespace

Recovery::Recovery(SiteDocument &doc, const QString &folder, QObject *parent)
    : QObject(parent), doc_(doc), folder_(folder), settled_(savedBytes(doc))
{
    quiet_.setSingleShot(true);
    connect(&quiet_, &QTimer::timeout, this, &Recovery::write);
}

Recovery::~Recovery()
{
    flush();
}

QString Recovery::defaultFolder()
{
    // The XDG base directories ignore a relative path.
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/webloom");
}

QString Recovery::path() const
{
    return slot_ > 0 ? slotPath(slot_, ".txt") : QString();
}

QString Recovery::slotPath(int slot, const char *ending) const
{
    return QDir(folder_).filePath(QStringLiteral("recovery-%1").arg(slot) + QLatin1String(ending));
}

bool Recovery::lockSlot(int slot, std::unique_ptr<QLockFile> &lock) const
{
    lock = std::make_unique<QLockFile>(slotPath(slot, ".lock"));
    // Held for the whole run: only a lock whose program has ended is stale,
    // never one that is merely old.
    lock->setStaleLockTime(0);
    return lock->tryLock(0);
}

QByteArray Recovery::claimSlot()
{
    if (!QDir().mkpath(folder_))
        return {};
    int highest = 0;
    static const QRegularExpression name(QStringLiteral("^recovery-([0-9]+)\\.txt$"));
    for (const QString &entry : QDir(folder_).entryList({QStringLiteral("recovery-*.txt")}, QDir::Files)) {
        const QRegularExpressionMatch match = name.match(entry);
        if (match.hasMatch())
            highest = std::max(highest, match.captured(1).toInt());
    }
    // The first slot that is free, unless some later one holds the file of an
    // ended program: that one is taken over, file and all.
    for (int slot = 1; slot <= kSlots; ++slot) {
        if (lock_ && slot > highest)
            break;
        std::unique_ptr<QLockFile> lock;
        if (!lockSlot(slot, lock))
            continue;
        QFile file(slotPath(slot, ".txt"));
        if (QFileInfo(file).isFile()) {
            lock_ = std::move(lock);
            slot_ = slot;
            if (file.size() > kLargest || !file.open(QIODevice::ReadOnly))
                return {};
            return file.readAll();
        }
        if (!lock_) {
            lock_ = std::move(lock);
            slot_ = slot;
        }
    }
    return {};
}

bool Recovery::start(Prompter &prompter)
{
    connect(&doc_, &SiteDocument::textChanged, this, &Recovery::changed);
    connect(&doc_, &SiteDocument::listChanged, this, &Recovery::changed);
    connect(&doc_, &SiteDocument::rtext1Changed, this, &Recovery::changed);
    connect(&doc_, &SiteDocument::pageOptionsChanged, this, &Recovery::changed);

    const QByteArray left = claimSlot();
    if (left.isEmpty())
        return false;

    SiteDocument kept;
    QByteArray copy = left;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    const bool whole = readProjectRecords(kept, buffer);
    // Nothing in it that this start does not show already: nothing to ask.
    if (!whole || projectBytes(kept) == savedBytes(doc_)) {
        QFile::remove(path());
        return false;
    }
    if (!prompter.question(kApplicationTitle, framedQuestion(kOffer))) {
        QFile::remove(path());
        return false;
    }
    buffer.seek(0);
    readProjectRecords(doc_, buffer);
    lstrtxt(doc_);
    // The file stays: the work is still unsaved.
    quiet_.stop();
    return true;
}

void Recovery::changed()
{
    if (!lock_)
        return;
    // Restarted by every change, but not for ever: typing without a pause is
    // kept every kLongestMs all the same.
    if (!quiet_.isActive())
        pendingSince_.start();
    else if (pendingSince_.elapsed() >= kLongestMs)
        return;
    quiet_.start(kQuietMs);
}

void Recovery::flush()
{
    if (quiet_.isActive()) {
        quiet_.stop();
        write();
    }
}

void Recovery::write()
{
    if (!lock_)
        return;
    const QByteArray bytes = savedBytes(doc_);
    if (bytes == settled_) {
        QFile::remove(path());
        return;
    }
    // A failure is not shown: the window goes on, and the next change tries
    // again.
    AtomicFile::Options options;
    options.mode = 0600;
    writeFileAtomically(path(), bytes, nullptr, options);
}

void Recovery::settle()
{
    quiet_.stop();
    settled_ = savedBytes(doc_);
    if (lock_)
        QFile::remove(path());
}

} // namespace webloom
