#pragma once

#include <QWidget>

// A status line: a small dot in the tone's colour and a secondary text, whose
// colour stays secondary whatever the tone. Screen readers read the text and
// hear of each new one.
class InlineStatus : public QWidget {
    Q_OBJECT
public:
    enum class Tone { neutral, success, warning, danger };

    InlineStatus(Tone tone, QString text, QWidget* parent = nullptr);

    Tone tone() const { return tone_; }
    const QString& text() const { return text_; }
    void set(Tone tone, const QString& text);

    // The colour of the dot for a tone, in the widget's appearance.
    static QColor dotColor(Tone tone, const QWidget* widget);

    QSize sizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRect textRect(int width) const;

    Tone tone_;
    QString text_;
};
