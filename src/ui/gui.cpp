#include "ui/gui.h"

#include <QApplication>
#include <QMainWindow>

namespace webloom {

int runGui(QApplication &app)
{
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("くるみのホームページ作成ツール"));
    window.resize(719, 555);
    window.show();
    return app.exec();
}

}  // namespace webloom
