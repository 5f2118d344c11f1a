#pragma once

#include "Vellox/rewrite/RewriteFeedbackMessage.h"
#include "Vellox/settings/TonePreset.h"

#include <QWidget>

#include <functional>

class InlineStatus;
class QVBoxLayout;

// The tray popover's content: permission placeholder or prompt, the rewrite
// banner, the tone list with the two ask modes, today's count, and Pause,
// Settings and Quit. It follows the settings store and the engine's shared
// state live and changes the settings only through the store.
class MenuBarContentView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 328;
    static constexpr int kCollapsedToneCount = 6;

    struct Actions {
        // Opens the settings window (the app's answer to an open request).
        std::function<void()> openSettings;
        // Ends the application.
        std::function<void()> terminate;
    };

    explicit MenuBarContentView(Actions actions, QWidget* parent = nullptr);

    bool showAllTones() const { return showAllTones_; }
    // The presets listed now: the default first, then six or all of them.
    QList<TonePreset> visibleTones() const;
    QString usageFootnoteText() const;

    // Rebuilds at once instead of on the next turn of the event loop; the
    // content is otherwise rebuilt after each change it observes.
    void rebuildNow();

    void runBannerAction(RewriteFeedbackAction action);
    void openErrorLog();
    void openSettingsClosingMenuSnapshot();

    // The remedy link of each action.
    static QString actionTitle(RewriteFeedbackAction action);

signals:
    // The content changed its size; the popover window follows.
    void contentRebuilt();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void scheduleRebuild();
    void buildLaunchPlaceholder(QVBoxLayout* root);
    void buildPermissionPrompt(QVBoxLayout* root);
    void buildMain(QVBoxLayout* root);
    void addStatusBanner(QVBoxLayout* root);
    void addErrorBanner(QVBoxLayout* root, const RewriteFeedbackMessage& message);
    void addBannerRow(QVBoxLayout* root, int tone, const QString& title);
    void addToneSection(QVBoxLayout* root);
    void addFooter(QVBoxLayout* root);
    void addQuitRow(QVBoxLayout* root);
    void addDivider(QVBoxLayout* root);
    void closeMenu();
    void quit();

    Actions actions_;
    bool showAllTones_ = false;
    bool rebuildPending_ = false;
    QWidget* body_ = nullptr;
};
