// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

namespace webloom {

// The elements of the FTP window that the FTP session reads and writes. The
// window implements this over its widgets; tests implement it over plain
// values. Indexes count from 0; an index outside the list reads as an empty,
// unselected entry.
class FtpView {
public:
    virtual ~FtpView() = default;

    // Connection fields: Text1 (address), Text2 (user name), Text3 (password).
    virtual QString text1() const = 0;
    virtual QString text2() const = 0;
    virtual QString text3() const = 0;
    // Enables or disables Text1, Text2, Text3 and Combo1 together.
    virtual void setConnectionFieldsEnabled(bool enabled) = 0;
    // The user agreed to connect unencrypted: Text1 shows the address with
    // "ftp://" from now on, and the registered connection remembers it.
    virtual void useAddress(const QString &address) = 0;

    // Command1: its caption is the connected flag.
    virtual QString command1Caption() const = 0;
    virtual void setCommand1Caption(const QString &caption) = 0;
    virtual void setCommand1Enabled(bool enabled) = 0;

    // Text4 and Command4: name and trigger of the remote make-directory.
    virtual QString text4() const = 0;
    virtual void setText4(const QString &text) = 0;
    virtual void setCommand4Enabled(bool enabled) = 0;

    // lstDir: the remote list (several entries selectable).
    virtual int lstDirCount() const = 0;
    virtual QString lstDirItem(int index) const = 0;
    virtual bool lstDirSelected(int index) const = 0;
    // -1 when the list has no current entry.
    virtual int lstDirCurrentIndex() const = 0;
    // Replaces every entry; the selection and the current entry are dropped.
    virtual void setLstDirItems(const QStringList &items) = 0;
    virtual void setLstDirEnabled(bool enabled) = 0;

    // Check1 (local frame) and Check2 (server frame): delete without asking.
    virtual bool check1() const = 0;
    virtual bool check2() const = 0;

    // File1: the files of the local folder (bare names, several selectable).
    virtual int file1Count() const = 0;
    virtual QString file1Item(int index) const = 0;
    virtual bool file1Selected(int index) const = 0;
    // Re-reads the folder, so that downloaded files show up.
    virtual void refreshFile1() = 0;

    // Dir1: the full path of the local folder.
    virtual QString dir1Path() const = 0;
};

} // namespace webloom
