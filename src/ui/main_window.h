// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMainWindow>

#include <functional>
#include <memory>

#include "document/prompter.h"
#include "document/site_document.h"
#include "pages/page_frame.h"
#include "ui/window_registry.h"

namespace Ui {
class main1;
}

namespace webloom {

class AboutWindow;
class FolderChooser;
class FtpWindow;
class PublishWindow;
class HowtoWindow;
class QtPrompter;
class Recovery;

// The main window main1: the site document on six tabs, the menu bar and
// the dispatch of every command. The window owns the document; each field
// widget is a view of it in both directions.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // Messages and dialogs go through the given prompter (borrowed; tests
    // inject a scripted one); without one the window shows Qt boxes.
    explicit MainWindow(Prompter *prompter = nullptr, QWidget *parent = nullptr);
    ~MainWindow() override;

    SiteDocument &document() { return doc_; }
    Prompter &prompter() { return *prompter_; }
    // The window's one file dialog object, shared by SAVE, LOAD and the body
    // file commands of the sub page.
    FileDialogState &cob1() { return cob1_; }

    // The row of List3 last selected by the user, -1 when none is.
    int selectedLinkIndex() const;

    // Loads a project file as LOAD does after its open dialog, as for a
    // project named on the command line. SAVE then offers the same file.
    bool openProject(const QString &path);

    // From now on unsaved work is kept in a recovery file under folder (see
    // Recovery); work a program that ended left there is offered first.
    // Returns whether the fields were filled from it.
    bool startRecovery(const QString &folder);
    // Null until startRecovery().
    Recovery *recovery() const { return recovery_.get(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void bindDocument();
    void applyInputModes();
    void connectCommands();

    // Document -> widgets.
    void showField(Field field);
    void showList(ListId id);
    void showBody();
    void showPageOptions();

    // Runs a "ＨＰ作成" command against the document.
    PageResult runPage(PageResult (*command)(PageFrame &));
    // The tab control got the focus: File1 follows Text3, errors ignored.
    void pointFile1AtPhotoFolder();
    // A check found the field empty: the cursor goes there.
    void focusField(Field field);
    // A save or load has just succeeded.
    void settled();

    // Commands.
    void writeTopPage(); // Command7
    void saveCommand();  // FILE > SAVE
    void loadCommand();  // FILE > LOAD
    // Runs a project load; a pending link correction does not survive it.
    bool loadKeepingLinks(const std::function<bool()> &load);
    void exitCommand(); // FILE > EXIT
    void showHowto();   // HELP > HOW TO
    void showAbout();   // HELP > ABOUT
    // Command1 (purpose 9) and Command3 (purpose 2): the folder chooser.
    void showChooser(int purpose);
    void renamePhotos();      // Command4
    void addPhotoExtension(); // Command5
    void writePhotoPages();   // Command6

    // Runs a link list command (Command9, Command2, Command15, Command10) on
    // the List3 selection and shows the selection it leaves.
    void editLinks(void (*command)(SiteDocument &, Prompter &, int &));
    // SAVE and LOAD show the project filter, whatever the body commands set.
    void useProjectFilter();
    void showFtp();     // TOOL > 簡易ＦＴＰ
    void showPublish(); // TOOL > ホームページ公開

    std::unique_ptr<Ui::main1> ui_;
    SiteDocument doc_;
    std::unique_ptr<QtPrompter> ownPrompter_;
    Prompter *prompter_;
    FileDialogState cob1_;
    // The secondary windows, each at most once.
    SingleWindow<HowtoWindow> helper1_;
    SingleWindow<AboutWindow> frmabt_;
    SingleWindow<FolderChooser> fm1_;
    // The chooser purpose: kept between shows, read by the chooser at OK.
    int fm1Purpose_ = 0;
    SingleWindow<FtpWindow> ftpform_;
    SingleWindow<PublishWindow> publishform_;
    std::unique_ptr<Recovery> recovery_;
    // Set while the window writes document values into its widgets, so the
    // widgets' change signals are not fed back into the document.
    bool showing_ = false;
};

} // namespace webloom
