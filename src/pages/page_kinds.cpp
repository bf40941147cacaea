#include "pages/page_kinds.h"

#include "pages/photo_pages.h"

namespace webloom {

const std::vector<PageKind> &pageKinds()
{
    static const std::vector<PageKind> kinds = {
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

}  // namespace webloom
