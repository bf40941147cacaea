// SPDX-License-Identifier: GPL-3.0-or-later
#include "modal_helper.h"

#include <QApplication>
#include <QTimer>

namespace webloom::test {

ModalHandler::ModalHandler(std::function<void(QWidget *)> handle, int timeoutMs)
    : handle_(std::move(handle)), remainingMs_(timeoutMs)
{
    QTimer::singleShot(0, &context_, [this] { poll(); });
}

void ModalHandler::poll()
{
    if (QWidget *modal = QApplication::activeModalWidget(); modal && modal->isVisible()) {
        handled_ = true;
        handle_(modal);
        return;
    }
    remainingMs_ -= 10;
    if (remainingMs_ > 0)
        QTimer::singleShot(10, &context_, [this] { poll(); });
}

} // namespace webloom::test
