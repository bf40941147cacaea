// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayView>
#include <QString>
#include <QTextBrowser>
#include <QUrl>
#include <QWidget>

#include <memory>

class QTimer;

namespace Ui {
class frmBrowser;
}

namespace webloom {

// Text of an HTML page file. A byte-order mark or a charset declaration that
// Qt can decode wins; anything else is read as code page 932, which covers
// the pages this program writes (they declare no charset).
QString decodePage(QByteArrayView bytes);

// The preview's browser engine (brwWebBrowser): local pages only, in the
// manner of an embedded browser component. navigate() returns at once and
// the page loads from the event loop; busy() is true until then.
class PageView : public QTextBrowser {
    Q_OBJECT

public:
    explicit PageView(QWidget *parent = nullptr);

    // A local path (absolute, or relative to the current folder) or a file:
    // URL. An address that is no readable file is dropped without a word,
    // and the current page stays.
    void navigate(const QString &address);
    void goBack() { backward(); }
    void goForward() { forward(); }
    void goHome() { home(); }
    // A local engine has no search page; the request is ignored.
    void goSearch() {}
    void refresh();
    // Cancels a navigation that has not loaded yet.
    void stop();

    bool busy() const { return !pending_.isEmpty(); }
    // The title of the shown page, or its file name when it has none; empty
    // before the first page.
    QString locationName() const;

signals:
    void loadCompleted();

protected:
    QVariant loadResource(int type, const QUrl &name) override;
    void doSetSource(const QUrl &name, QTextDocument::ResourceType type) override;

private:
    void loadPending();

    QUrl pending_;
};

// The preview browser window frmBrowser: toolbar, address box and a page
// view. It edits nothing; the user types the address of a page. It deletes
// itself when closed, so an owner keeps it in a QPointer.
class PreviewBrowser : public QWidget {
    Q_OBJECT

public:
    explicit PreviewBrowser(QWidget *parent = nullptr);
    ~PreviewBrowser() override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void layoutWindow();
    void go();
    void tick();
    void toolbarClicked(const QString &key);
    void showLocationName();

    std::unique_ptr<Ui::frmBrowser> ui_;
    PageView *brwWebBrowser_ = nullptr;
    QTimer *timTimer_ = nullptr;
};

inline const QString kConnectingCaption = QStringLiteral("接続中...");
// The caption while no page has been shown: the name of the menu item that
// opens the window.
inline const QString kPreviewCaption = QStringLiteral("簡易WEBエディタ");

} // namespace webloom
