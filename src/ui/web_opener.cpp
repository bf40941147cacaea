// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/web_opener.h"

#include <QDesktopServices>

#include "document/prompter.h"

namespace webloom {

bool launchSystemBrowser(const QUrl &url)
{
    return QDesktopServices::openUrl(url);
}

QString addressForReading(const QString &address)
{
    const QLatin1String scheme("mailto:");
    if (address.startsWith(scheme, Qt::CaseInsensitive))
        return address.mid(scheme.size());
    return address;
}

WebOpener::WebOpener(Prompter &prompter, UrlLauncher launcher) : prompter_(prompter), launcher_(std::move(launcher))
{
}

bool WebOpener::open(const QString &address)
{
    if (!prompter_.question(kOnlineQuestionTitle, framedQuestion(kOnlineQuestionText)))
        return false;
    const QUrl url(address, QUrl::StrictMode);
    if (url.isValid() && launcher_ && launcher_(url))
        return true;
    // The address goes into the message so that the user can still type it
    // into a browser by hand.
    prompter_.message(kBrowserFailedText + QLatin1Char('\n') + address);
    return false;
}

} // namespace webloom
