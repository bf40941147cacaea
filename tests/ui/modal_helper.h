// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QWidget>

#include <functional>

namespace webloom::test {

// Runs `handle` on the next modal window once it is shown (a message box or
// file dialog opened by exec()). The handler must close it. When no modal
// window appears within the timeout, `handled` stays false and nothing runs.
class ModalHandler {
public:
    explicit ModalHandler(std::function<void(QWidget *)> handle, int timeoutMs = 5000);
    bool handled() const { return handled_; }

private:
    void poll();

    QObject context_; // cancels pending polls when the handler goes away
    std::function<void(QWidget *)> handle_;
    int remainingMs_;
    bool handled_ = false;
};

} // namespace webloom::test
