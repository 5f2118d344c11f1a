#include "Vellox/panels/SelectionCoordinator.h"

#include <algorithm>

SelectionCoordinator& SelectionCoordinator::shared()
{
    static SelectionCoordinator* instance = new SelectionCoordinator;
    return *instance;
}

void SelectionCoordinator::replace(bool showDescribeEdit, const QList<TonePreset>& presets)
{
    QList<PickerRow> rows;
    if (showDescribeEdit)
        rows.append(PickerRow::describeEdit());
    for (const TonePreset& preset : presets)
        rows.append(PickerRow::preset(preset));
    rows_ = std::move(rows);
    emit rowsChanged();
    setFocusedIndex(0);
}

void SelectionCoordinator::moveFocus(qint64 step)
{
    if (rows_.isEmpty())
        return;
    setFocusedIndex(std::max<qint64>(std::min<qint64>(focusedIndex_ + step, rows_.size() - 1), 0));
}

std::optional<TonePickerChoice> SelectionCoordinator::choice(qint64 index) const
{
    if (index < 0 || index >= rows_.size())
        return std::nullopt;
    return rows_[index].choice;
}

void SelectionCoordinator::setFocusedIndex(qint64 index)
{
    focusedIndex_ = index;
    emit focusedIndexChanged(index);
}
