#include <QApplication>
#include <QCoreApplication>

#include <curl/curl.h>

#include "app/cli.h"
#include "ui/gui.h"

int main(int argc, char *argv[])
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    int status = 0;
    if (webloom::isCommandLine(argc, argv)) {
        QCoreApplication app(argc, argv);
        status = webloom::runCommandLine(QCoreApplication::arguments());
    } else {
        QApplication app(argc, argv);
        status = webloom::runGui(app);
    }
    curl_global_cleanup();
    return status;
}
