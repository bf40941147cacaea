#include "pages/page_kinds.h"

#include "pages/top_page.h"

namespace webloom {

const std::vector<PageKind> &pageKinds()
{
    static const std::vector<PageKind> kinds = {
        {QStringLiteral("top"), TabTop, &chktop},
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
