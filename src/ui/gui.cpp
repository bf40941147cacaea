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
    const int status = app.exec();
    // Windows closed on the way out (EXIT closes them all) are deleted now,
    // so that an FTP window says goodbye to its server, or gives up on a
    // silent one, before the program ends.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return status;
}

} // namespace webloom
