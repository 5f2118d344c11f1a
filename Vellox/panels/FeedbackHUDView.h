#pragma once

#include "Vellox/rewrite/RewriteFeedbackMessage.h"

#include <QSize>
#include <QWidget>

class QPushButton;

// The notice's card: a dot in the level's colour, the message in at most two
// lines, and a button for the message's action when it has one.
class FeedbackHUDView : public QWidget {
    Q_OBJECT
public:
    static constexpr int minWidth = 220;
    static constexpr int maxWidth = 360;
    static constexpr int minHeight = 40;

    explicit FeedbackHUDView(RewriteFeedbackMessage message, QWidget* parent = nullptr);

    const RewriteFeedbackMessage& message() const { return message_; }
    QPushButton* actionButton() const { return button_; }
    QSize fittingSize() const;
    // The message as drawn: wrapped to at most two lines, the second cut
    // with an ellipsis when the text needs more.
    QStringList displayedLines() const;

    static QString actionTitle(RewriteFeedbackAction action);
    static QColor levelColor(RewriteFeedbackMessage::Level level, const QWidget* widget);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    double textWidthFor(int width) const;
    QStringList linesFor(double textWidth) const;
    void performAction();

    RewriteFeedbackMessage message_;
    QPushButton* button_ = nullptr;
};
