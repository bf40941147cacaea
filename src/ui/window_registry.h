// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QPointer>
#include <QWidget>

#include <memory>

namespace webloom {

// Where a secondary window stood when the user last closed it; kept for the
// run, like the window positions of most desktop programs between two opens.
struct WindowPlace {
    QByteArray geometry; // QWidget::saveGeometry(); empty before the first close
};

// Places a window that is about to be shown for the first time in a run
// wholly on its owner's screen, centred on the owner (shrunk to the screen
// when it is larger), or where it was when the user closed it last; and
// remembers its place when it is closed. The owner may be null.
void placeWindow(QWidget *window, const QWidget *owner, const std::shared_ptr<WindowPlace> &place);

// A secondary window that exists at most once and is modeless. show()
// creates it on first use (through the given factory) and otherwise only
// brings the open one to the front. Closing the window destroys it, so the
// next show() starts afresh, where the user left the last one.
//
// The windows are top-level (no parent) so that closing the main window
// closes only that one and the program ends with its last window.
template <class W> class SingleWindow {
public:
    template <class Factory> W *show(Factory &&make, const QWidget *owner = nullptr)
    {
        if (!window_) {
            window_ = make();
            window_->setAttribute(Qt::WA_DeleteOnClose);
            placeWindow(window_, owner, place_);
        }
        window_->show();
        if (window_->isMinimized())
            window_->showNormal();
        window_->raise();
        window_->activateWindow();
        return window_;
    }

    W *window() const { return window_; }
    bool isOpen() const { return !window_.isNull(); }

private:
    QPointer<W> window_;
    std::shared_ptr<WindowPlace> place_ = std::make_shared<WindowPlace>();
};

} // namespace webloom
