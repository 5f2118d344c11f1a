#pragma once

#include "Vellox/panels/TonePickerChoice.h"

#include <QList>
#include <QPointer>
#include <QSize>
#include <QWidget>

#include <functional>
#include <optional>

class QPropertyAnimation;
class QScrollArea;
class SelectionCoordinator;

// The content of the tone picker: a header with the title and key hints over
// a scrolling list that mirrors the SelectionCoordinator. The focused row is
// highlighted and kept in the middle of the list as the focus moves; the first
// nine rows show their digit; a click on a row reports its choice. It holds
// no state of its own; the panel handles the keys.
class TonePickerView : public QWidget {
    Q_OBJECT
public:
    static constexpr int cardWidth = 260;
    static constexpr int maxListHeight = 360;

    TonePickerView(SelectionCoordinator& coordinator, std::function<void(const TonePickerChoice&)> onSelect,
                   QWidget* parent = nullptr);

    // "Vellox" above a describe-edit row, "Pick a tone" otherwise.
    QString headerTitle() const;
    // The size the content wants: 260 wide, header plus at most 360 of list.
    QSize fittingSize() const;

    // For the panel's tests and screenshots: what each row shows.
    struct RowContent {
        QString symbol;
        QString title;
        std::optional<int> badge;
        bool focused = false;
        QRect geometry; // in the view's coordinates
    };
    QList<RowContent> rowContents() const;
    int listScrollOffset() const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    class Header;
    class Row;

    void rebuildRows();
    void focusChanged(qint64 index);
    void layoutParts();

    SelectionCoordinator& coordinator_;
    std::function<void(const TonePickerChoice&)> onSelect_;
    Header* header_;
    QScrollArea* list_;
    QWidget* listContent_;
    QList<Row*> rows_;
    QPointer<QPropertyAnimation> scroll_;
};
