// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/gui.h"

#include <QApplication>
#include <QTimer>

#include "document/recovery.h"
#include "ui/main_window.h"
#include "ui/program_icon.h"

namespace webloom {

int runGui(QApplication &app, const QString &project)
{
    QApplication::setApplicationName(QStringLiteral("webloom"));
    // Lets a Wayland compositor match the window to the installed desktop entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.webloom.webloom"));
    QApplication::setWindowIcon(programIcon());
    MainWindow main1;
    main1.show();
    // The boxes stand over the window, not before it. Work taken back from
    // the recovery file is newer than any project file, so a project named
    // on the command line is then not loaded over it.
    QTimer::singleShot(0, &main1, [&main1, project] {
        if (!main1.startRecovery(Recovery::defaultFolder()) && !project.isEmpty())
            main1.openProject(project);
    });
    const int status = app.exec();
    // Windows closed on the way out (EXIT closes them all) are deleted now,
    // so that an FTP window says goodbye to its server, or gives up on a
    // silent one, before the program ends.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return status;
}

} // namespace webloom
