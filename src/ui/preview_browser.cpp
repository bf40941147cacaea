// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/preview_browser.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QStringDecoder>
#include <QTimer>
#include <QToolBar>

#include <algorithm>
#include <cctype>
#include <cmath>

#include "document/cp932.h"
#include "ui/program_icon.h"
#include "ui_preview_browser.h"

namespace webloom {

namespace {

// The charset named in the head of a page ("charset=…" of a meta element),
// lower case; empty when there is none.
QByteArray declaredCharset(QByteArrayView bytes)
{
    const QByteArray head = bytes.first(std::min<qsizetype>(bytes.size(), 1024)).toByteArray().toLower();
    qsizetype pos = head.indexOf("charset=");
    if (pos < 0)
        return {};
    pos += 8;
    while (pos < head.size() && (head[pos] == '"' || head[pos] == '\'' || head[pos] == ' '))
        ++pos;
    qsizetype end = pos;
    while (end < head.size() && (std::isalnum(static_cast<unsigned char>(head[end])) || head[end] == '-' ||
                                 head[end] == '_' || head[end] == '.' || head[end] == ':'))
        ++end;
    return head.mid(pos, end - pos);
}

bool isReadableFile(const QUrl &url)
{
    if (!url.isLocalFile())
        return false;
    const QFileInfo info(url.toLocalFile());
    return info.isFile() && info.isReadable();
}

// A typed address as the engine understands it: an existing path first (so
// that a file name with a colon is not taken for a scheme), then a URL, then
// a path relative to the current folder.
QUrl addressToUrl(const QString &address)
{
    const QString text = address.trimmed();
    if (text.isEmpty())
        return {};
    if (QFileInfo::exists(text))
        return QUrl::fromLocalFile(QFileInfo(text).absoluteFilePath());
    const QUrl url(text);
    if (url.isValid() && url.scheme().size() > 1)
        return url;
    return QUrl::fromLocalFile(QFileInfo(text).absoluteFilePath());
}

// Margins of the window's layout, given in twips; 15 twips are one pixel.
int twips(int value)
{
    return static_cast<int>(std::lround(value / 15.0));
}

} // namespace

QString decodePage(QByteArrayView bytes)
{
    if (const auto bom = QStringConverter::encodingForData(bytes))
        return QStringDecoder(*bom).decode(bytes);
    const QByteArray charset = declaredCharset(bytes);
    if (!charset.isEmpty()) {
        if (const auto declared = QStringConverter::encodingForName(charset.constData()))
            return QStringDecoder(*declared).decode(bytes);
    }
    return cp932::decode(bytes);
}

PageView::PageView(QWidget *parent) : QTextBrowser(parent)
{
}

void PageView::navigate(const QString &address)
{
    pending_ = addressToUrl(address);
    if (pending_.isEmpty())
        return;
    QMetaObject::invokeMethod(this, &PageView::loadPending, Qt::QueuedConnection);
}

void PageView::loadPending()
{
    const QUrl url = pending_;
    pending_.clear();
    if (!url.isEmpty())
        setSource(url);
}

void PageView::refresh()
{
    // reload() forgets the current address before loading it again, so a
    // page whose file has gone would leave the view without a source.
    if (isReadableFile(source()))
        reload();
}

void PageView::stop()
{
    pending_.clear();
}

QString PageView::locationName() const
{
    const QString title = documentTitle().trimmed();
    if (!title.isEmpty() || source().isEmpty())
        return title;
    return QFileInfo(source().toLocalFile()).fileName();
}

void PageView::doSetSource(const QUrl &name, QTextDocument::ResourceType type)
{
    const QUrl target = source().resolved(name);
    const bool sameDocument =
        !source().isEmpty() && target.adjusted(QUrl::RemoveFragment) == source().adjusted(QUrl::RemoveFragment);
    // Web addresses and missing files would leave an empty page behind; the
    // current page stays instead, as with any address the engine cannot load.
    if (!sameDocument && !isReadableFile(target))
        return;
    QTextBrowser::doSetSource(target, type);
    emit loadCompleted();
}

QVariant PageView::loadResource(int type, const QUrl &name)
{
    if (type == QTextDocument::HtmlResource && name.isLocalFile()) {
        QFile file(name.toLocalFile());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return decodePage(file.readAll());
    }
    return QTextBrowser::loadResource(type, name);
}

PreviewBrowser::PreviewBrowser(QWidget *parent) : QWidget(parent, Qt::Window), ui_(std::make_unique<Ui::frmBrowser>())
{
    ui_->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowIcon(programIcon());
    setWindowTitle(kPreviewCaption);

    brwWebBrowser_ = new PageView(this);
    brwWebBrowser_->setObjectName(QStringLiteral("brwWebBrowser"));
    timTimer_ = new QTimer(this);
    timTimer_->setObjectName(QStringLiteral("timTimer"));
    timTimer_->setInterval(5);

    const struct {
        QAction *action;
        const char16_t *image;
    } buttons[] = {{ui_->Back, u"back.png"},       {ui_->Forward, u"forward.png"}, {ui_->Stop, u"stop.png"},
                   {ui_->Refresh, u"refresh.png"}, {ui_->Home, u"home.png"},       {ui_->Search, u"search.png"}};
    for (const auto &button : buttons)
        button.action->setIcon(resourceIcon(QString::fromUtf16(button.image)));

    connect(ui_->tbToolBar, &QToolBar::actionTriggered, this,
            [this](QAction *action) { toolbarClicked(action->objectName()); });
    connect(ui_->cboAddress->lineEdit(), &QLineEdit::returnPressed, this, &PreviewBrowser::go);
    connect(timTimer_, &QTimer::timeout, this, &PreviewBrowser::tick);
    connect(brwWebBrowser_, &PageView::loadCompleted, this, &PreviewBrowser::showLocationName);

    setTabOrder(ui_->cboAddress, brwWebBrowser_);
    ui_->cboAddress->setFocus();
    layoutWindow();
}

PreviewBrowser::~PreviewBrowser() = default;

void PreviewBrowser::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutWindow();
}

// Fixed margins around the address box and the page. A window narrower or
// lower than the margins gives its controls no room rather than a negative
// size.
void PreviewBrowser::layoutWindow()
{
    const int innerWidth = width();
    const int innerHeight = height();

    ui_->tbToolBar->setGeometry(0, 0, innerWidth, ui_->tbToolBar->sizeHint().height());

    QLabel *label = ui_->lblAddress;
    label->setGeometry(twips(50), twips(30), label->sizeHint().width(), label->sizeHint().height());
    QComboBox *address = ui_->cboAddress;
    const int addressTop = label->y() + label->height() + twips(15);
    address->setGeometry(twips(50), addressTop, std::max(0, innerWidth - twips(100)), address->sizeHint().height());

    QWidget *strip = ui_->picAddress;
    strip->setGeometry(0, ui_->tbToolBar->height(), innerWidth, addressTop + address->height() + twips(60));

    const int stripBottom = strip->y() + strip->height();
    brwWebBrowser_->setGeometry(twips(50), stripBottom, std::max(0, innerWidth - twips(100)),
                                std::max(0, innerHeight - stripBottom - twips(100)));
}

void PreviewBrowser::go()
{
    timTimer_->start();
    brwWebBrowser_->navigate(ui_->cboAddress->currentText());
}

void PreviewBrowser::tick()
{
    if (brwWebBrowser_->busy()) {
        setWindowTitle(kConnectingCaption);
        return;
    }
    timTimer_->stop();
    showLocationName();
}

void PreviewBrowser::showLocationName()
{
    const QString name = brwWebBrowser_->locationName();
    setWindowTitle(name.isEmpty() ? kPreviewCaption : name);
}

void PreviewBrowser::toolbarClicked(const QString &key)
{
    timTimer_->start();
    if (key == u"Back") {
        brwWebBrowser_->goBack();
    } else if (key == u"Forward") {
        brwWebBrowser_->goForward();
    } else if (key == u"Refresh") {
        brwWebBrowser_->refresh();
    } else if (key == u"Home") {
        brwWebBrowser_->goHome();
    } else if (key == u"Search") {
        brwWebBrowser_->goSearch();
    } else if (key == u"Stop") {
        timTimer_->stop();
        brwWebBrowser_->stop();
        showLocationName();
    }
}

} // namespace webloom
