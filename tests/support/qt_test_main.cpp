// SPDX-License-Identifier: GPL-3.0-or-later
// main() for test programs that need a Qt application object: the widget
// tests get a QApplication (run with QT_QPA_PLATFORM=offscreen), the others a
// QCoreApplication so that event loops and queued signals work.
#include <gtest/gtest.h>

#include <curl/curl.h>

#include "support/child_process.h"

#ifdef WEBLOOM_TEST_WIDGETS
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    curl_global_init(CURL_GLOBAL_DEFAULT);
    TestApplication app(argc, argv);
    if (const std::optional<int> status = webloom::test::runRequestedChild())
        return *status;
    ::testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    curl_global_cleanup();
    return status;
}
