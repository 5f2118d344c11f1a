#pragma once

#include "Vellox/panels/PickerRow.h"

#include <QList>
#include <QObject>

#include <optional>

// The tone picker's list: its rows and the highlighted one. One instance
// lives for the process and keeps the last rows until the next showing.
class SelectionCoordinator : public QObject {
    Q_OBJECT
public:
    static SelectionCoordinator& shared();

    const QList<PickerRow>& rows() const { return rows_; }
    qint64 focusedIndex() const { return focusedIndex_; }

    // The rows become the describe-edit row (when asked) and the presets in
    // order; the focus goes to the first row.
    void replace(bool showDescribeEdit, const QList<TonePreset>& presets);
    // Moves the focus by `step`, stopping at the first and the last row.
    void moveFocus(qint64 step);
    // The choice of the row at `index`; none outside the list.
    std::optional<TonePickerChoice> choice(qint64 index) const;

signals:
    // Every assignment is published, also of an equal value.
    void rowsChanged();
    void focusedIndexChanged(qint64 index);

private:
    void setFocusedIndex(qint64 index);

    QList<PickerRow> rows_;
    qint64 focusedIndex_ = 0;
};
