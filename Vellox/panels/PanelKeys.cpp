#include "Vellox/panels/PanelKeys.h"

#include "platform/PhysicalKeys.h"

#include <QKeyEvent>

#include <array>
#include <utility>

namespace PanelKeys {

namespace {

// The digit row's codes are not in digit order.
constexpr std::array<std::pair<quint16, int>, 9> kDigits{{
    {18, 1}, {19, 2}, {20, 3}, {21, 4}, {23, 5}, {22, 6}, {26, 7}, {28, 8}, {25, 9},
}};

} // namespace

std::optional<qint64> virtualKeyOf(const QKeyEvent* event)
{
    if (auto code = platform::physical_keys::virtualKeyForNativeScanCode(event->nativeScanCode()))
        return code;
    switch (event->key()) {
    case Qt::Key_Return:
        return returnKey;
    case Qt::Key_Enter:
        return keypadEnter;
    case Qt::Key_Escape:
        return escape;
    case Qt::Key_Down:
        return downArrow;
    case Qt::Key_Up:
        return upArrow;
    default:
        return std::nullopt;
    }
}

std::optional<int> digitForKeyCode(quint16 keyCode)
{
    for (const auto& [code, digit] : kDigits) {
        if (code == keyCode)
            return digit;
    }
    return std::nullopt;
}

} // namespace PanelKeys
