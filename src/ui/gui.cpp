#include "ui/gui.h"

#include <QApplication>

#include "ui/main_window.h"

namespace webloom {

int runGui(QApplication &app)
{
    QApplication::setApplicationName(QStringLiteral("webloom"));
    MainWindow main1;
    main1.show();
    return app.exec();
}

} // namespace webloom
