#include "Modifiers.h"

#include <array>
#include <utility>

namespace GlobalShortcuts {

namespace {

constexpr std::array<std::pair<qint64, ModifierFlags>, 5> kCarbonPairs{{
    {CarbonModifier::command, ModifierFlag::command},
    {CarbonModifier::shift, ModifierFlag::shift},
    {CarbonModifier::option, ModifierFlag::option},
    {CarbonModifier::control, ModifierFlag::control},
    {CarbonModifier::function, ModifierFlag::function},
}};

} // namespace

qint64 carbon(ModifierFlags flags)
{
    qint64 out = 0;
    for (const auto& [carbonBit, flag] : kCarbonPairs) {
        if (flags & flag)
            out |= carbonBit;
    }
    return out;
}

ModifierFlags modifierFlagsFromCarbon(qint64 carbonModifiers)
{
    ModifierFlags out = 0;
    for (const auto& [carbonBit, flag] : kCarbonPairs) {
        if (carbonModifiers & carbonBit)
            out |= flag;
    }
    return out;
}

qint64 normalizedCarbon(qint64 carbonModifiers)
{
    return carbon(modifierFlagsFromCarbon(carbonModifiers));
}

QString symbolicRepresentation(ModifierFlags flags)
{
    QString out;
    if (flags & ModifierFlag::control)
        out += QChar(0x2303);
    if (flags & ModifierFlag::option)
        out += QChar(0x2325);
    if (flags & ModifierFlag::shift)
        out += QChar(0x21E7);
    if (flags & ModifierFlag::command)
        out += QChar(0x2318);
    if (flags & ModifierFlag::function)
        out += QStringLiteral("\U0001F310\uFE0E");
    return out;
}

ModifierFlags modifierFlagsFromQt(Qt::KeyboardModifiers modifiers)
{
    ModifierFlags out = 0;
    if (modifiers & Qt::ControlModifier)
        out |= ModifierFlag::control;
    if (modifiers & Qt::AltModifier)
        out |= ModifierFlag::option;
    if (modifiers & Qt::ShiftModifier)
        out |= ModifierFlag::shift;
    if (modifiers & Qt::MetaModifier)
        out |= ModifierFlag::command;
    if (modifiers & Qt::KeypadModifier)
        out |= ModifierFlag::numericPad;
    return out;
}

Qt::KeyboardModifiers toQtModifiers(ModifierFlags flags)
{
    Qt::KeyboardModifiers out;
    if (flags & ModifierFlag::command)
        out |= Qt::MetaModifier;
    if (flags & ModifierFlag::control)
        out |= Qt::ControlModifier;
    if (flags & ModifierFlag::numericPad)
        out |= Qt::KeypadModifier;
    if (flags & ModifierFlag::option)
        out |= Qt::AltModifier;
    if (flags & ModifierFlag::shift)
        out |= Qt::ShiftModifier;
    return out;
}

} // namespace GlobalShortcuts
