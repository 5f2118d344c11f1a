#include "PanelsTestSupport.h"

#include <QWidget>

using namespace panels_test;
using Surface = UIWindowCoordinator::Surface;

namespace {

class Coordinator : public PanelsTest {
protected:
    Coordinator() { log().clear(); }
    UIWindowCoordinator& coordinator = UIWindowCoordinator::shared();
};

TEST_F(Coordinator, SurfaceRulesAndTheirLogLines)
{
    using Step = std::function<void(UIWindowCoordinator&)>;
    auto visible = [](Surface s) -> Step { return [s](UIWindowCoordinator& c) { c.markSurfaceVisible(s); }; };
    auto hidden = [](Surface s) -> Step { return [s](UIWindowCoordinator& c) { c.markSurfaceHidden(s); }; };
    const Step closeSettings = [](UIWindowCoordinator& c) { c.closeSettingsWindowIfOpen(); };
    const Step closePopover = [](UIWindowCoordinator& c) { c.closeMenuPopoverIfOpen(); };
    struct Case {
        const char* name;
        QList<Step> steps;
        Surface expected;
        QStringList lines;
    };
    const Case cases[] = {
        {"visible twice logs once", {visible(Surface::spinner), visible(Surface::spinner)}, Surface::spinner,
         {"surface visible: spinner"}},
        {"hiding another surface keeps the active one and still logs",
         {visible(Surface::tonePicker), hidden(Surface::spinner)}, Surface::tonePicker,
         {"surface visible: tonePicker", "surface hidden: spinner"}},
        {"hiding the active one rests", {visible(Surface::instructionPanel), hidden(Surface::instructionPanel)},
         Surface::none, {"surface visible: instructionPanel", "surface hidden: instructionPanel"}},
        {"a new surface replaces the old", {visible(Surface::menuPopover), visible(Surface::tonePicker)},
         Surface::tonePicker, {"surface visible: menuPopover", "surface visible: tonePicker"}},
        {"closing settings with none open resets it silently", {visible(Surface::settings), closeSettings},
         Surface::none, {"surface visible: settings"}},
        {"closing settings leaves another surface", {visible(Surface::spinner), closeSettings}, Surface::spinner,
         {"surface visible: spinner"}},
        {"closing the popover resets it", {visible(Surface::menuPopover), closePopover}, Surface::none,
         {"surface visible: menuPopover"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        coordinator.setActiveSurface(Surface::none);
        log().clear();
        for (const Step& step : c.steps)
            step(coordinator);
        EXPECT_EQ(coordinator.activeSurface(), c.expected);
        EXPECT_EQ(log().messages(), c.lines);
        for (const auto& line : log().lines()) {
            EXPECT_EQ(line.category, "ui");
            EXPECT_EQ(line.level, platform::LogLevel::Debug);
        }
    }
}

TEST(CoordinatorSurface, RawValuesMatchExactly)
{
    EXPECT_EQ(UIWindowCoordinator::surfaceFromRawValue(u"instructionPanel"), Surface::instructionPanel);
    EXPECT_EQ(UIWindowCoordinator::surfaceFromRawValue(u"InstructionPanel"), std::nullopt);
    EXPECT_EQ(UIWindowCoordinator::surfaceFromRawValue(u""), std::nullopt);
    for (Surface s : {Surface::none, Surface::menuPopover, Surface::tonePicker, Surface::instructionPanel,
                      Surface::spinner, Surface::settings})
        EXPECT_EQ(UIWindowCoordinator::surfaceFromRawValue(UIWindowCoordinator::rawValue(s)), s);
}

TEST(CoordinatorLikeness, TakesWindowsForTheSettingsWindowByIdentifierTitleOrSize)
{
    struct Case {
        const char* name;
        QString identifier;
        QString title;
        bool frameless;
        QSize size;
        bool expected;
    };
    const Case cases[] = {
        {"settings identifier, small and frameless", UIWindowCoordinator::settingsWindowIdentifier, "", true,
         {100, 100}, true},
        {"title says SETTINGS", "", "VELLOX SETTINGS", true, {100, 100}, true},
        {"untitled 800 x 600", "", "Vellox", true, {800, 600}, false},
        {"titled 800 x 600", "", "Vellox", false, {800, 600}, true},
        {"titled, too narrow", "", "Vellox", false, {499, 600}, false},
        {"titled, too low", "", "Vellox", false, {800, 419}, false},
        {"popover by size", UIWindowCoordinator::menuPopoverWindowIdentifier, "", false, {800, 600}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QWidget window(nullptr, c.frameless ? Qt::Window | Qt::FramelessWindowHint : Qt::Window);
        UIWindowCoordinator::setWindowIdentifier(&window, c.identifier);
        window.setWindowTitle(c.title);
        window.resize(c.size);
        EXPECT_EQ(UIWindowCoordinator::isLikelySettingsWindow(&window), c.expected);
    }
}

TEST_F(Coordinator, ClosesOnlyVisibleRegisteredWindowsOfEachKind)
{
    QWidget settings;
    settings.setWindowTitle("Settings");
    QWidget hiddenSettings;
    UIWindowCoordinator::setWindowIdentifier(&hiddenSettings, UIWindowCoordinator::settingsWindowIdentifier);
    QWidget popover(nullptr, Qt::Window | Qt::FramelessWindowHint);
    UIWindowCoordinator::setWindowIdentifier(&popover, UIWindowCoordinator::menuPopoverWindowIdentifier);
    popover.resize(800, 600);
    QWidget unregistered;
    unregistered.setWindowTitle("Settings");
    for (QWidget* w : {&settings, &hiddenSettings, &popover})
        coordinator.registerWindow(w);
    settings.show();
    popover.show();
    unregistered.show();

    coordinator.closeSettingsWindowIfOpen();
    EXPECT_FALSE(settings.isVisible());
    EXPECT_TRUE(popover.isVisible());
    EXPECT_TRUE(unregistered.isVisible()) << "only our registered windows are ours to close";
    EXPECT_EQ(log().messages(), QStringList{"closing settings before shortcut surface"});

    coordinator.closeMenuPopoverIfOpen();
    EXPECT_FALSE(popover.isVisible());
    EXPECT_EQ(log().messages().size(), 1);
}

} // namespace
