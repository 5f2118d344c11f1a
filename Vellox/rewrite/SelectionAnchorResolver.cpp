#include "SelectionAnchorResolver.h"

#include "Vellox/rewrite/SelectionAX.h"
#include "Vellox/settings/VelloxLog.h"
#include "platform/Clock.h"
#include "platform/Platform.h"
#include "platform/Screens.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QEventLoop>

namespace SelectionAnchorResolver {

namespace {

using Screen = platform::Screens::Screen;

constexpr int kLookupWaitMs = 40;
constexpr int kLookups = 3;
constexpr qint64 kCacheFreshMs = 2000;
constexpr double kScreenInset = 4;
constexpr double kBelowGap = 8;
constexpr double kBesideGap = 6;
constexpr double kMouseOffset = 10;

std::optional<QRectF> lastSelectionRect;
std::optional<QDateTime> lastSelectionAt;

QDateTime now()
{
    const auto& clock = platform::Platform::current().clock;
    return clock ? clock->now() : QDateTime::currentDateTimeUtc();
}

QList<Screen> allScreens()
{
    const auto& screens = platform::Platform::current().screens;
    return screens ? screens->screens() : QList<Screen>{};
}

std::optional<Screen> mainScreen()
{
    const auto& screens = platform::Platform::current().screens;
    if (!screens)
        return std::nullopt;
    const QList<Screen> list = screens->screens();
    const int index = screens->mainScreenIndex();
    if (index >= 0 && index < list.size())
        return list.at(index);
    return std::nullopt;
}

std::optional<Screen> firstScreen()
{
    const QList<Screen> list = allScreens();
    return list.isEmpty() ? std::nullopt : std::optional<Screen>(list.first());
}

std::optional<Screen> bestScreen(const QRectF& rect)
{
    std::optional<Screen> best;
    double bestArea = 0;
    for (const Screen& screen : allScreens()) {
        const QRectF overlap = screen.frame.intersected(rect);
        const double area = overlap.isEmpty() ? 0 : overlap.width() * overlap.height();
        if (area > bestArea) { // equal areas keep the earlier screen
            bestArea = area;
            best = screen;
        }
    }
    return best;
}

// QRectF::contains counts the right and bottom edges in; a point on the
// border between two screens belongs to the one it starts.
bool frameContains(const QRectF& frame, QPointF point)
{
    return point.x() >= frame.left() && point.x() < frame.right() && point.y() >= frame.top()
        && point.y() < frame.bottom();
}

std::optional<Screen> screenContaining(QPointF point)
{
    for (const Screen& screen : allScreens()) {
        if (frameContains(screen.frame, point))
            return screen;
    }
    return std::nullopt;
}

QPointF mouseLocation()
{
    const auto& screens = platform::Platform::current().screens;
    return screens ? screens->mouseLocation() : QPointF();
}

std::optional<Screen> activeScreenFallback()
{
    if (auto screen = screenContaining(mouseLocation()))
        return screen;
    if (auto screen = mainScreen())
        return screen;
    return firstScreen();
}

std::optional<QRectF> recentSelectionRect()
{
    if (!lastSelectionRect || !lastSelectionAt)
        return std::nullopt;
    if (lastSelectionAt->msecsTo(now()) > kCacheFreshMs)
        return std::nullopt;
    return lastSelectionRect;
}

// The right and the top bounds are applied last: a panel wider or taller than
// the visible area sits 4 points inside its right or top edge and overflows
// at the left or the bottom, so its top (where a panel's content starts)
// stays on screen.
QRectF clampToScreen(QRectF rect, const std::optional<Screen>& preferred)
{
    std::optional<Screen> screen = preferred;
    if (!screen)
        screen = bestScreen(rect);
    if (!screen)
        screen = mainScreen();
    if (!screen)
        screen = firstScreen();
    if (!screen)
        return rect;
    const QRectF visible = screen->visibleFrame;
    double x = std::max(rect.x(), visible.left() + kScreenInset);
    x = std::min(x, visible.right() - rect.width() - kScreenInset);
    double y = std::min(rect.y(), visible.bottom() - rect.height() - kScreenInset);
    y = std::max(y, visible.top() + kScreenInset);
    rect.moveTo(x, y);
    return rect;
}

void waitProcessingEvents(int milliseconds)
{
    QDeadlineTimer deadline(milliseconds);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, int(std::max<qint64>(1, deadline.remainingTime())));
}

} // namespace

QRectF place(const QRectF& selection, QSizeF size, Placement placement)
{
    switch (placement) {
    case Placement::below:
        return QRectF(QPointF(selection.left(), selection.bottom() + kBelowGap), size);
    case Placement::beside:
        return QRectF(QPointF(selection.right() + kBesideGap, selection.center().y() - size.height() / 2), size);
    }
    return QRectF(selection.topLeft(), size);
}

AnchorResult resolve(QSizeF size, Placement placement)
{
    std::optional<QRectF> live = SelectionAX::boundsOnScreen();
    for (int attempt = 1; !live && attempt < kLookups; ++attempt) {
        waitProcessingEvents(kLookupWaitMs);
        live = SelectionAX::boundsOnScreen();
    }
    if (live) {
        lastSelectionRect = live;
        lastSelectionAt = now();
        VelloxLog::ui().debug(QStringLiteral("anchor source=selection"));
        return {clampToScreen(place(*live, size, placement), std::nullopt), AnchorSource::selection};
    }
    if (const auto cached = recentSelectionRect()) {
        VelloxLog::ui().debug(QStringLiteral("anchor source=selection(cache)"));
        return {clampToScreen(place(*cached, size, placement), std::nullopt), AnchorSource::selection};
    }
    const QPointF mouse = mouseLocation();
    if (const auto screen = screenContaining(mouse)) {
        const QRectF frame(QPointF(mouse.x() + kMouseOffset, mouse.y() - size.height() / 2), size);
        VelloxLog::ui().debug(QStringLiteral("anchor source=mouse"));
        return {clampToScreen(frame, screen), AnchorSource::mouse};
    }
    if (const auto screen = activeScreenFallback()) {
        VelloxLog::ui().debug(QStringLiteral("anchor source=center"));
        const QPointF centre = screen->visibleFrame.center();
        const QRectF frame(QPointF(centre.x() - size.width() / 2, centre.y() - size.height() / 2), size);
        return {clampToScreen(frame, screen), AnchorSource::center};
    }
    return {QRectF(QPointF(0, 0), size), AnchorSource::center};
}

void resetCacheForTesting()
{
    lastSelectionRect.reset();
    lastSelectionAt.reset();
}

} // namespace SelectionAnchorResolver
