// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QTabBar>
#include <QTextDocument>

#include <algorithm>
#include <functional>
#include <limits>

#include "document/project_file.h"
#include "document/recovery.h"
#include "pages/link_page.h"
#include "pages/photo_pages.h"
#include "pages/photo_tools.h"
#include "pages/self_page.h"
#include "pages/sub_page.h"
#include "pages/top_page.h"
#include "ui/about_window.h"
#include "ui/folder_chooser.h"
#include "ui/ftp_window.h"
#include "ui/publish_window.h"
#include "ui/howto_window.h"
#include "ui/qt_prompter.h"
#include "ui_main_window.h"
#include "net/curl_transfer.h"

namespace webloom {

namespace {

// Client area of the window in pixels (below the menu bar).
constexpr int kClientWidth = 719;
constexpr int kClientHeight = 555;

// Japanese input: "on" fields leave the input method alone (Qt cannot force
// it on), "off" fields ask for Latin input, "disabled" fields accept no
// input method at all.
constexpr Field kInputOff[] = {Field::Text49};
constexpr Field kInputDisabled[] = {Field::Text21, Field::Text22, Field::Text23, Field::Text24,
                                    Field::Text25, Field::Text26, Field::Text27, Field::Text28,
                                    Field::Text30, Field::Text45, Field::Text46};

// A field is one line of the project file and of a page, so a line break
// pasted into a single-line field must not reach the document: like a web
// form's text input, the field drops line breaks.
bool isLineBreak(QChar c)
{
    return c == u'\n' || c == u'\r' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
}

bool hasLineBreak(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(), isLineBreak);
}

QString singleLine(QString text)
{
    text.removeIf(isLineBreak);
    return text;
}

// The body as the user sees it: paragraphs and soft line breaks become "\n";
// every other character, no-break spaces included, stays as typed.
QString plainBody(const QPlainTextEdit *edit)
{
    QString text = edit->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    text.replace(QChar::LineSeparator, QLatin1Char('\n'));
    return text;
}

} // namespace

MainWindow::MainWindow(Prompter *prompter, QWidget *parent)
    : QMainWindow(parent), ui_(std::make_unique<Ui::main1>()), prompter_(prompter), cob1_(initialProjectDialog())
{
    ui_->setupUi(this);
    if (!prompter_) {
        ownPrompter_ = std::make_unique<QtPrompter>(this);
        prompter_ = ownPrompter_.get();
    }
    bindDocument();
    applyInputModes();
    connectCommands();

    // Start-up: the document holds its defaults and the start folder; tab 0.
    doc_.setCurrentTab(TabCommon);
    ui_->SSTab1->setCurrentIndex(TabCommon);
    resize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
}

MainWindow::~MainWindow()
{
    // The chooser writes into the document this window owns.
    delete fm1_.window();
    // The last changes reach the recovery file before the document goes.
    recovery_.reset();
}

void MainWindow::bindDocument()
{
    for (const FieldInfo &info : fieldTable()) {
        const Field field = info.field;
        auto *edit = findChild<QLineEdit *>(fieldName(field));
        if (!edit)
            continue;
        // A line edit holds 32767 characters unless told otherwise; a longer
        // loaded value would show cut short, and the next keystroke would
        // write the cut text back into the document.
        edit->setMaxLength(std::numeric_limits<int>::max());
        connect(edit, &QLineEdit::textChanged, this, [this, field, edit](const QString &text) {
            if (showing_)
                return;
            if (hasLineBreak(text)) {
                // Setting the cleaned text comes back through this handler.
                const int cursor = edit->cursorPosition();
                const int removedBefore = int(text.left(cursor).size() - singleLine(text.left(cursor)).size());
                edit->setText(singleLine(text));
                edit->setCursorPosition(cursor - removedBefore);
                return;
            }
            doc_.setText(field, text);
        });
    }
    connect(&doc_, &SiteDocument::textChanged, this, &MainWindow::showField);

    connect(&doc_, &SiteDocument::listChanged, this, &MainWindow::showList);

    connect(ui_->rtext1, &QPlainTextEdit::textChanged, this, [this] {
        if (!showing_)
            doc_.setRtext1(plainBody(ui_->rtext1));
    });
    connect(&doc_, &SiteDocument::rtext1Changed, this, &MainWindow::showBody);

    connect(&doc_, &SiteDocument::file1Changed, this, [this] { ui_->File1->showList(doc_.file1()); });

    // The two page options: the list's rows are in PageEncoding's order.
    connect(ui_->Combo1, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (showing_ || index < 0)
            return;
        PageOptions options = doc_.pageOptions();
        options.encoding = index == 1 ? PageEncoding::Utf8 : PageEncoding::ShiftJis;
        doc_.setPageOptions(options);
    });
    connect(ui_->Check1, &QCheckBox::toggled, this, [this](bool on) {
        if (showing_)
            return;
        PageOptions options = doc_.pageOptions();
        options.phone = on;
        doc_.setPageOptions(options);
    });
    connect(&doc_, &SiteDocument::pageOptionsChanged, this, &MainWindow::showPageOptions);

    connect(ui_->SSTab1, &QTabWidget::currentChanged, this, [this](int index) {
        if (!showing_ && index >= 0)
            doc_.setCurrentTab(index);
    });
    connect(&doc_, &SiteDocument::currentTabChanged, this, [this](int tab) {
        if (ui_->SSTab1->currentIndex() == tab)
            return;
        showing_ = true;
        ui_->SSTab1->setCurrentIndex(tab);
        showing_ = false;
    });

    connect(&doc_, &SiteDocument::missingField, this, &MainWindow::focusField);

    // The user reaching the tab control, by mouse or keyboard.
    connect(ui_->SSTab1->tabBar(), &QTabBar::tabBarClicked, this, [this] { pointFile1AtPhotoFolder(); });
    ui_->SSTab1->tabBar()->installEventFilter(this);

    for (const FieldInfo &info : fieldTable())
        showField(info.field);
    for (int i = 0; i < kListCount; ++i)
        showList(static_cast<ListId>(i));
    showBody();
    showPageOptions();
    ui_->File1->showList(doc_.file1());
}

void MainWindow::showField(Field field)
{
    const QString &value = doc_.text(field);
    if (field == Field::Label93) {
        ui_->Label93->setText(value);
        return;
    }
    auto *edit = findChild<QLineEdit *>(fieldName(field));
    // An unchanged text is not set again, which would move the cursor.
    if (!edit || edit->text() == value)
        return;
    showing_ = true;
    edit->setText(value);
    showing_ = false;
}

void MainWindow::showList(ListId id)
{
    // Only the link list is shown; List1, List2 and List4 are work lists.
    if (id != ListId::List3)
        return;
    const QStringList &items = doc_.list(id);
    QListWidget *view = ui_->List3;
    bool same = view->count() == items.size();
    for (int i = 0; same && i < view->count(); ++i)
        same = view->item(i)->text() == items.at(i);
    if (same)
        return;
    view->clear();
    view->addItems(items);
}

void MainWindow::showBody()
{
    if (plainBody(ui_->rtext1) == doc_.rtext1())
        return;
    showing_ = true;
    ui_->rtext1->setPlainText(doc_.rtext1());
    showing_ = false;
}

void MainWindow::showPageOptions()
{
    const PageOptions &options = doc_.pageOptions();
    showing_ = true;
    ui_->Combo1->setCurrentIndex(options.encoding == PageEncoding::Utf8 ? 1 : 0);
    ui_->Check1->setChecked(options.phone);
    showing_ = false;
}

int MainWindow::selectedLinkIndex() const
{
    int last = -1;
    for (int i = 0; i < ui_->List3->count(); ++i) {
        if (ui_->List3->item(i)->isSelected())
            last = i;
    }
    return last;
}

void MainWindow::applyInputModes()
{
    for (Field f : kInputOff) {
        if (auto *edit = findChild<QLineEdit *>(fieldName(f)))
            edit->setInputMethodHints(Qt::ImhPreferLatin);
    }
    for (Field f : kInputDisabled) {
        if (auto *edit = findChild<QLineEdit *>(fieldName(f))) {
            edit->setInputMethodHints(Qt::ImhLatinOnly);
            edit->setAttribute(Qt::WA_InputMethodEnabled, false);
        }
    }
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui_->SSTab1->tabBar() && event->type() == QEvent::FocusIn)
        pointFile1AtPhotoFolder();
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::pointFile1AtPhotoFolder()
{
    // An empty or missing folder leaves File1 as it was, without a message.
    doc_.pointFile1(doc_.text(Field::Text3));
}

void MainWindow::focusField(Field field)
{
    QWidget *edit = findChild<QLineEdit *>(fieldName(field));
    if (!edit)
        return;
    for (int i = 0; i < ui_->SSTab1->count(); ++i) {
        if (ui_->SSTab1->widget(i)->isAncestorOf(edit))
            doc_.setCurrentTab(i);
    }
    for (QWidget *w = edit->parentWidget(); w; w = w->parentWidget()) {
        if (auto *scroll = qobject_cast<QScrollArea *>(w)) {
            scroll->ensureWidgetVisible(edit);
            break;
        }
    }
    edit->setFocus(Qt::OtherFocusReason);
}

PageResult MainWindow::runPage(PageResult (*command)(PageFrame &))
{
    PageFrame frame(doc_, *prompter_);
    return command(frame);
}

// ---------------------------------------------------------------------------
// Commands. Each control is connected here and nowhere else; the controls
// whose commands belong to features not yet in the program stay disabled
// until that feature connects them.

void MainWindow::connectCommands()
{
    connect(ui_->Command7, &QPushButton::clicked, this, &MainWindow::writeTopPage);
    connect(ui_->Command14, &QPushButton::clicked, this, [this] { runPage(&command14); });
    connect(ui_->Command16, &QPushButton::clicked, this, [this] { command16(doc_, *prompter_, cob1_); });
    connect(ui_->Command17, &QPushButton::clicked, this, [this] { command17(doc_, *prompter_, cob1_); });
    connect(ui_->Command8, &QPushButton::clicked, this, [this] { runPage(&chkself); });
    connect(ui_->Command9, &QPushButton::clicked, this, [this] { editLinks(&command9); });
    connect(ui_->Command2, &QPushButton::clicked, this, [this] { editLinks(&command2); });
    connect(ui_->Command15, &QPushButton::clicked, this, [this] { editLinks(&command15); });
    connect(ui_->Command10, &QPushButton::clicked, this, [this] { editLinks(&command10); });
    connect(ui_->Command11, &QPushButton::clicked, this, [this] { runPage(&command11); });
    ui_->save->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    ui_->load->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    ui_->eexit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(ui_->save, &QAction::triggered, this, &MainWindow::saveCommand);
    connect(ui_->load, &QAction::triggered, this, &MainWindow::loadCommand);
    connect(ui_->eexit, &QAction::triggered, this, &MainWindow::exitCommand);
    connect(ui_->how, &QAction::triggered, this, &MainWindow::showHowto);
    connect(ui_->about, &QAction::triggered, this, &MainWindow::showAbout);
    connect(ui_->Command1, &QPushButton::clicked, this, [this] { showChooser(ChooserBaseFolder); });
    connect(ui_->Command3, &QPushButton::clicked, this, [this] { showChooser(ChooserPhotoFolder); });
    connect(ui_->Command4, &QPushButton::clicked, this, &MainWindow::renamePhotos);
    connect(ui_->Command5, &QPushButton::clicked, this, &MainWindow::addPhotoExtension);
    connect(ui_->Command6, &QPushButton::clicked, this, &MainWindow::writePhotoPages);

    connect(ui_->easyftp, &QAction::triggered, this, &MainWindow::showFtp);
    connect(ui_->publish, &QAction::triggered, this, &MainWindow::showPublish);
    // The preview browser stays switched off for good.
    ui_->brow->setEnabled(false);
}

void MainWindow::writeTopPage()
{
    runPage(&chktop);
}

void MainWindow::editLinks(void (*command)(SiteDocument &, Prompter &, int &))
{
    int selection = selectedLinkIndex();
    command(doc_, *prompter_, selection);
    // List3 is rebuilt when its items change, which drops the selection.
    QListWidget *view = ui_->List3;
    if (selection >= 0 && selection < view->count()) {
        view->setCurrentRow(selection, QItemSelectionModel::ClearAndSelect);
        view->scrollToItem(view->item(selection));
    } else {
        view->clearSelection();
        view->setCurrentRow(-1);
    }
}

void MainWindow::showHowto()
{
    helper1_.show([this] { return new HowtoWindow(*prompter_); }, this);
}

void MainWindow::showAbout()
{
    frmabt_.show([this] { return new AboutWindow(*prompter_); }, this);
}

void MainWindow::showChooser(int purpose)
{
    // An open chooser is only brought to the front; the new purpose applies
    // to its next OK. It has no parent: its Text1 and File1 must never be
    // taken for the fields of the same names in this window.
    fm1Purpose_ = purpose;
    fm1_.show([this] { return new FolderChooser(doc_, *prompter_, [this] { return fm1Purpose_; }); }, this);
}

void MainWindow::renamePhotos()
{
    serialRename(doc_, *prompter_);
}

void MainWindow::addPhotoExtension()
{
    addExtension(doc_, *prompter_);
}

void MainWindow::writePhotoPages()
{
    // File1 is brought to Text3's folder first: a folder typed into Text3
    // without visiting the tab bar would otherwise leave File1 on a stale
    // listing, and pages would be written from the wrong files.
    runPage(&photoPagesFromText3);
}

void MainWindow::showPublish()
{
    publishform_.show(
        [this] {
            PublishWindow::Services services;
            services.document = &doc_;
            services.makeTransfer = [] { return std::make_unique<CurlTransfer>(); };
            services.prompter = ownPrompter_ ? nullptr : prompter_;
            return new PublishWindow(std::move(services));
        },
        this);
}

void MainWindow::showFtp()
{
    ftpform_.show(
        [this] {
            FtpWindow::Services services;
            services.makeTransfer = [] { return std::make_unique<CurlTransfer>(); };
            // The window's own boxes stand over it; an injected prompter is shared.
            services.prompter = ownPrompter_ ? nullptr : prompter_;
            return new FtpWindow(std::move(services));
        },
        this);
}

void MainWindow::saveCommand()
{
    useProjectFilter();
    if (saveProject(doc_, *prompter_, cob1_))
        settled();
}

void MainWindow::loadCommand()
{
    useProjectFilter();
    if (loadKeepingLinks([this] { return loadProject(doc_, *prompter_, cob1_); }))
        settled();
}

bool MainWindow::openProject(const QString &path)
{
    useProjectFilter();
    cob1_.fileName = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
    const bool loaded = loadKeepingLinks([this] { return loadProjectFile(doc_, *prompter_, cob1_.fileName); });
    if (loaded)
        settled();
    return loaded;
}

bool MainWindow::startRecovery(const QString &folder)
{
    recovery_ = std::make_unique<Recovery>(doc_, folder);
    return recovery_->start(*prompter_);
}

void MainWindow::settled()
{
    // A failed save or a load cut short leaves unsaved work: only a success
    // clears the recovery file.
    if (recovery_)
        recovery_->settle();
}

bool MainWindow::loadKeepingLinks(const std::function<bool()> &load)
{
    // Label93 is a position in the old List3: once a load has replaced the
    // list, putting the item back would overwrite some other link.
    const QMetaObject::Connection watch = connect(&doc_, &SiteDocument::listChanged, this, [this](ListId id) {
        if (id == ListId::List3)
            doc_.setText(Field::Label93, QString());
    });
    const bool loaded = load();
    disconnect(watch);
    return loaded;
}

void MainWindow::useProjectFilter()
{
    // "ファイルの書き込み" leaves its own filter in the shared dialog; the
    // project commands offer project files again. Both filters have the same
    // two choices, so the user's last choice stays.
    const FileDialogState project = initialProjectDialog();
    cob1_.filter = project.filter;
    cob1_.defaultExt = project.defaultExt;
}

void MainWindow::exitCommand()
{
    // Nothing is asked and nothing is saved.
    QApplication::closeAllWindows();
    QCoreApplication::exit(0);
}

} // namespace webloom
