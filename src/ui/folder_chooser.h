// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

#include <functional>
#include <memory>

namespace Ui {
class fm1;
}

namespace webloom {

class Prompter;
class SiteDocument;

// The folder chooser fm1: Text1 over the drive list Drive1, the folder list
// Dir1 and the file list File1. Browsing moves the process's current folder
// along with Dir1, also when the user cancels in the end. "Ｏ　Ｋ" hands
// Text1 to fm1end with the purpose the main window holds at that moment, so
// a purpose switched while the window is open applies.
//
// Modeless; it deletes itself when closed (OK, Cancel, Esc or the close
// box), so an owner keeps it in a QPointer. The document and the prompter
// must outlive it.
class FolderChooser : public QWidget {
    Q_OBJECT

public:
    using PurposeSource = std::function<int()>;

    FolderChooser(SiteDocument &doc, Prompter &prompter, PurposeSource purpose, QWidget *parent = nullptr);
    ~FolderChooser() override;

    // The message shown when the desktop button finds no desktop folder.
    static QString missingDesktopMessage();

private:
    void driveChanged(const QString &root);  // browsing step 1
    void folderChanged(const QString &path); // browsing step 2
    void showDriveOf(const QString &path);
    void goToDesktop(); // "ﾃﾞｨｽｸﾄｯﾌﾟ Dir"
    void accept();      // "Ｏ　Ｋ"

    std::unique_ptr<Ui::fm1> ui_;
    SiteDocument &doc_;
    Prompter &prompter_;
    PurposeSource purpose_;
};

} // namespace webloom
