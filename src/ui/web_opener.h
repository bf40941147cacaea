// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QUrl>

#include <functional>

namespace webloom {

class Prompter;

// Starts the user's web browser on an address; false when no browser could
// be started. Injectable so that tests never launch a real browser.
using UrlLauncher = std::function<bool(const QUrl &)>;

// The launcher of the desktop: QDesktopServices::openUrl.
bool launchSystemBrowser(const QUrl &url);

// The "open a web page" step shared by the buttons of the about and how-to
// windows: ask whether the computer is online, then hand the address to the
// browser without waiting for it.
class WebOpener {
public:
    explicit WebOpener(Prompter &prompter, UrlLauncher launcher = launchSystemBrowser);

    void setLauncher(UrlLauncher launcher) { launcher_ = std::move(launcher); }

    // True when the page was handed to a browser. A browser that cannot be
    // started costs one message; the program goes on.
    bool open(const QString &address);

private:
    Prompter &prompter_;
    UrlLauncher launcher_;
};

// An address as the windows show it for copying: a mail link loses its
// "mailto:" so that the reader can paste it into a mail program.
QString addressForReading(const QString &address);

inline const QString kOnlineQuestionTitle = QStringLiteral("インターネット接続");
inline const QString kOnlineQuestionText = QStringLiteral("インターネットに接続していますか？");
inline const QString kBrowserFailedText = QStringLiteral("Webブラウザを起動できませんでした。");

} // namespace webloom
