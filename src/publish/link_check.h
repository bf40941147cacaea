// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include "document/site_document.h"
#include "net/remote_entry.h"
#include "pages/site_build.h"

namespace webloom {

// A relative link or picture of one built page: the href or src value as
// the page holds it, the field it came from as the window captions it
// (empty when no field holds it), and the path it points to inside the
// server folder, split at "/" (a last empty element for a folder).
struct PageLink {
    QString page;
    QString caption;
    QString target;
    QStringList path;
};

// The relative links and pictures of a page's bytes. Addresses with a
// scheme (http:, https:, mailto:, …), "//host", "/path" and "#fragment"
// are left out, as are links that climb out of the server folder and every
// link of a page whose <base href> sends them elsewhere. The captions come
// from the fields of doc that make this kind of page.
QList<PageLink> pageLinks(const SiteDocument &doc, const QString &pageName, const QByteArray &bytes);

// The same for every page of a built site, read from the files.
QList<PageLink> siteLinks(const SiteDocument &doc, const SiteFiles &site);

// The links that point to nothing: no file of the site and nothing of the
// server folder's listing has that name. A path into a subfolder counts as
// there when the listing shows that folder, whose inside it does not show.
QList<PageLink> brokenLinks(const QList<PageLink> &links, const SiteFiles &site, const QList<RemoteEntry> &remote);

} // namespace webloom
