#include "ui/gui.h"

#include <QApplication>

#include "ui/main_window.h"
#include "ui/program_icon.h"

namespace webloom {

int runGui(QApplication &app)
{
    QApplication::setApplicationName(QStringLiteral("webloom"));
    QApplication::setWindowIcon(programIcon());
    MainWindow main1;
    main1.show();
    return app.exec();
}

} // namespace webloom
