// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

#include "controllers/ftp_session.h"
#include "controllers/ftp_view.h"

namespace webloom::test {

// The FTP window's elements as plain values.
struct FakeFtpView : FtpView {
    QString address, user, password, text4Value, caption = FtpSession::kConnectCaption;
    bool fieldsEnabled = true, command1Enabled = true, command4Enabled = true, lstDirEnabled = true;
    QStringList lstDir, file1;
    QSet<int> lstDirSelection, file1Selection;
    int current = -1;
    bool check1Value = false, check2Value = false;
    int file1Refreshes = 0;
    QString dir1;

    QString text1() const override { return address; }
    QString text2() const override { return user; }
    QString text3() const override { return password; }
    void setConnectionFieldsEnabled(bool enabled) override { fieldsEnabled = enabled; }
    void useAddress(const QString &text) override { address = text; }
    QString command1Caption() const override { return caption; }
    void setCommand1Caption(const QString &text) override { caption = text; }
    void setCommand1Enabled(bool enabled) override { command1Enabled = enabled; }
    QString text4() const override { return text4Value; }
    void setText4(const QString &text) override { text4Value = text; }
    void setCommand4Enabled(bool enabled) override { command4Enabled = enabled; }
    int lstDirCount() const override { return int(lstDir.size()); }
    QString lstDirItem(int i) const override { return lstDir.value(i); }
    bool lstDirSelected(int i) const override { return lstDirSelection.contains(i); }
    int lstDirCurrentIndex() const override { return current; }
    void setLstDirItems(const QStringList &items) override
    {
        lstDir = items;
        lstDirSelection.clear();
        current = -1;
    }
    void setLstDirEnabled(bool enabled) override { lstDirEnabled = enabled; }
    bool check1() const override { return check1Value; }
    bool check2() const override { return check2Value; }
    int file1Count() const override { return int(file1.size()); }
    QString file1Item(int i) const override { return file1.value(i); }
    bool file1Selected(int i) const override { return file1Selection.contains(i); }
    void refreshFile1() override { ++file1Refreshes; }
    QString dir1Path() const override { return dir1; }
};

} // namespace webloom::test
