// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/window_registry.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

namespace webloom {

namespace {

// Keeps the place of its window (its parent) in the owner's record, which
// may be gone by the time the window closes.
class PlaceKeeper : public QObject {
public:
    PlaceKeeper(QWidget *window, std::weak_ptr<WindowPlace> place) : QObject(window), place_(std::move(place))
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // A dialog's Esc hides it without a close event.
        if ((event->type() == QEvent::Close || (event->type() == QEvent::Hide && !event->spontaneous())) &&
            watched == parent()) {
            if (const std::shared_ptr<WindowPlace> place = place_.lock())
                place->geometry = static_cast<QWidget *>(watched)->saveGeometry();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::weak_ptr<WindowPlace> place_;
};

// Where a range of the given length starts to lie centred on centre, moved
// as little as needed to stay within [low, low + room); a range longer than
// the room starts at low, so that a title bar stays reachable.
int within(int low, int room, int length, int centre)
{
    if (length >= room)
        return low;
    return std::clamp(centre - length / 2, low, low + room - length);
}

} // namespace

void placeWindow(QWidget *window, const QWidget *owner, const std::shared_ptr<WindowPlace> &place)
{
    new PlaceKeeper(window, place);
    if (!place->geometry.isEmpty() && window->restoreGeometry(place->geometry))
        return;

    QScreen *screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect room = screen->availableGeometry();
    // The window manager's frame is known only once a window is shown; the
    // owner's, on the same desktop, stands in for it.
    QMargins frame;
    if (owner && owner->isVisible()) {
        const QRect outer = owner->frameGeometry();
        const QRect inner = owner->geometry();
        frame = QMargins(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                         outer.bottom() - inner.bottom());
    }
    const QSize most = room.size().shrunkBy(frame);
    const QSize size = window->size().boundedTo(most).expandedTo(window->minimumSizeHint().boundedTo(most));
    const QSize outerSize = size.grownBy(frame);
    const QPoint centre = owner && owner->isVisible() ? owner->frameGeometry().center() : room.center();
    window->resize(size);
    // move() places the frame, not the inside.
    window->move(within(room.left(), room.width(), outerSize.width(), centre.x()),
                 within(room.top(), room.height(), outerSize.height(), centre.y()));
}

} // namespace webloom
