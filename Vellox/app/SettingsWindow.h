#pragma once

#include <QWidget>

class SettingsRootView;

// The settings window around the form. It scrolls when the screen is short
// and deletes itself when closed, so every opening starts from fresh state.
class SettingsWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int kIdealWidth = 560;
    static constexpr int kIdealHeight = 720;

    explicit SettingsWindow(QWidget* parent = nullptr);

    SettingsRootView* rootView() const { return root_; }
    // Shows the window at the top centre of the screen (first time) and
    // brings it to the front.
    void present();

protected:
    void showEvent(QShowEvent* event) override;

private:
    SettingsRootView* root_;
    bool placed_ = false;
};
