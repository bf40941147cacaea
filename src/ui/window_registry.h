#pragma once

#include <QPointer>
#include <QWidget>

namespace webloom {

// A secondary window that exists at most once and is modeless. show()
// creates it on first use (through the given factory) and otherwise only
// brings the open one to the front. Closing the window destroys it, so the
// next show() starts afresh.
//
// The windows are top-level (no parent) so that closing the main window
// closes only that one and the program ends with its last window.
template <class W> class SingleWindow {
public:
    template <class Factory> W *show(Factory &&make)
    {
        if (!window_) {
            window_ = make();
            window_->setAttribute(Qt::WA_DeleteOnClose);
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
};

} // namespace webloom
