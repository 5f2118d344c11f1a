#pragma once

#include <QString>
#include <QWidget>

#include <optional>

class QVariantAnimation;

// The look of one menu row: optional symbol in an 18 px slot, title, and at
// the end either a check mark (selected) or a trailing text. The soft accent
// background fades in and out with the hover flag.
class MenuRowBody : public QWidget {
    Q_OBJECT
public:
    struct Content {
        std::optional<QString> systemImage;
        QString title;
        std::optional<QString> trailingText;
        bool isSelected = false;
    };

    // What the trailing end of a row shows.
    enum class Trailing { nothing, checkmark, text };

    explicit MenuRowBody(Content content, QWidget* parent = nullptr);

    const Content& content() const { return content_; }
    void setContent(const Content& content);
    bool isHovered() const { return hovered_; }
    void setHovered(bool hovered);
    // The drawn opacity of the hover background, 0 to 1, as it fades.
    qreal hoverOpacity() const;

    static Trailing trailingFor(const Content& content);
    // Where the title starts: the padding, plus the symbol slot when there is one.
    static int titleOffset(const Content& content);
    static int rowHeight(const QFont& font);

    // Paints a row into `rect`; also used by the controls that wrap this look.
    static void paintRow(QPainter& painter, const QWidget* widget, const QRect& rect, const Content& content,
                         qreal hoverOpacity, int trailingReserve = 0, bool symbolAlwaysSecondary = false);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Content content_;
    bool hovered_ = false;
    QVariantAnimation* fade_;
};
