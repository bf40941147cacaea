// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class QLockFile;

namespace webloom {

class Prompter;
class SiteDocument;

// Unsaved work kept on disk while the main window runs, so that a window
// closed without SAVE, a crash or a lost session does not take the typing
// with it.
//
// A few seconds after the last change the document goes, in project-file
// format, into a recovery file (mode 0600, written atomically); when it
// equals what was last saved or loaded the file is removed instead. Each
// running program holds a slot of its own, "recovery-N.txt" guarded by the
// lock file "recovery-N.lock", so two windows never write the same file, and
// the file of a program that ended is offered at the next start.
class Recovery : public QObject {
    Q_OBJECT
public:
    // Quiet time after the last change before the file is written, and the
    // longest a change waits while the typing goes on without a pause.
    static constexpr int kQuietMs = 3000;
    static constexpr int kLongestMs = 30000;

    // The document as it stands now counts as saved (the start-up state).
    // Nothing is written before start().
    Recovery(SiteDocument &doc, const QString &folder, QObject *parent = nullptr);
    // Writes a pending change, then gives the slot up; the file stays.
    ~Recovery() override;

    // $XDG_STATE_HOME/webloom, or ~/.local/state/webloom without it.
    static QString defaultFolder();

    // Takes a slot. When a program that ended left work that differs from
    // this document, asks once "前回保存されていない入力があります。復元しますか？":
    // Yes fills the document from it (base folder included) and keeps the
    // file; No removes it. Returns whether the document was filled. Without a
    // usable folder the program runs as before, keeping nothing.
    bool start(Prompter &prompter);

    // The document now equals a project file just saved or loaded: the
    // recovery file goes, and only a later change brings it back.
    void settle();

    // Writes a pending change now.
    void flush();

    // The recovery file of this program; empty without a slot.
    QString path() const;

private:
    void changed();
    void write();
    // Takes a slot; a file left in it by an ended program is returned.
    QByteArray claimSlot();
    bool lockSlot(int slot, std::unique_ptr<QLockFile> &lock) const;
    QString slotPath(int slot, const char *ending) const;

    SiteDocument &doc_;
    QString folder_;
    std::unique_ptr<QLockFile> lock_;
    int slot_ = 0;
    // What a save or load left, as a save would write it.
    QByteArray settled_;
    QTimer quiet_;
    QElapsedTimer pendingSince_;
};

} // namespace webloom
