#pragma once

#include <QWidget>

#include <functional>

class QLabel;

// The last onboarding panel: how to use Vellox, with the user's shortcut,
// then "Got it" or "Open Settings".
class ReadyPanel : public QWidget {
    Q_OBJECT
public:
    ReadyPanel(std::function<void()> onDone, std::function<void()> onOpenSettings, QWidget* parent = nullptr);

    const QString& shortcutDisplay() const { return shortcutDisplay_; }
    QString secondStepText() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* readyStepLine(int number, const QString& text, QLabel** textLabel = nullptr);

    QString shortcutDisplay_;
    QLabel* secondStep_ = nullptr;
    std::function<void()> onDone_;
    std::function<void()> onOpenSettings_;
};
