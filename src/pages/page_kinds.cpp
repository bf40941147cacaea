// SPDX-License-Identifier: GPL-3.0-or-later
#include "pages/page_kinds.h"

#include "pages/link_page.h"
#include "pages/photo_pages.h"
#include "pages/self_page.h"
#include "pages/sub_page.h"
#include "pages/top_page.h"

namespace webloom {

const std::vector<PageKind> &pageKinds()
{
    static const std::vector<PageKind> kinds = {
        {QStringLiteral("top"), TabTop, &chktop},
        {QStringLiteral("self"), TabSelf, &chkself},
        {QStringLiteral("link"), TabLink, &command11},
        {QStringLiteral("sub"), TabSub, &command14},
        {QStringLiteral("photo"), TabPhoto, &photoPagesFromText3},
    };
    return kinds;
}

const PageKind *findPageKind(const QString &name)
{
    for (const PageKind &kind : pageKinds()) {
        if (kind.name == name)
            return &kind;
    }
    return nullptr;
}

} // namespace webloom
