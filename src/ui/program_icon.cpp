#include "ui/program_icon.h"

// The icons live in a static library, whose resource initialiser the linker
// drops unless some code refers to it.
static void initIconResources()
{
    Q_INIT_RESOURCE(webloom_icons);
}

namespace webloom {

QIcon resourceIcon(const QString &fileName)
{
    static const bool initialised = (initIconResources(), true);
    Q_UNUSED(initialised);
    return QIcon(QStringLiteral(":/webloom/") + fileName);
}

QIcon programIcon()
{
    return resourceIcon(QStringLiteral("webloom.png"));
}

} // namespace webloom
