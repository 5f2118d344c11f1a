#include "Vellox/app/InlineStatus.h"
#include "Vellox/app/MenuRow.h"
#include "Vellox/app/MenuRowBody.h"
#include "Vellox/app/MenuRowToggle.h"
#include "Vellox/app/PrimaryButton.h"
#include "Vellox/app/SectionLabel.h"
#include "Vellox/app/SwitchControl.h"
#include "Vellox/app/VelloxTokens.h"

#include <QAccessible>
#include <QEnterEvent>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace {

TEST(MenuRowBody, TrailingShowsTheCheckMarkInPlaceOfTheTextAndNothingWithoutEither)
{
    struct Case {
        const char* name;
        bool selected;
        std::optional<QString> trailing;
        MenuRowBody::Trailing expected;
    };
    const Case cases[] = {
        {"selected with text", true, QStringLiteral("Ctrl+,"), MenuRowBody::Trailing::checkmark},
        {"selected without text", true, std::nullopt, MenuRowBody::Trailing::checkmark},
        {"text only", false, QStringLiteral("Ctrl+Q"), MenuRowBody::Trailing::text},
        {"neither", false, std::nullopt, MenuRowBody::Trailing::nothing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(MenuRowBody::trailingFor({std::nullopt, QStringLiteral("Row"), c.trailing, c.selected}), c.expected);
    }
}

TEST(MenuRowBody, ATitleWithoutSymbolStartsAtThePaddingAndSymbolRowsAlign)
{
    const MenuRowBody::Content bare{std::nullopt, QStringLiteral("Settings"), {}, false};
    const MenuRowBody::Content withSymbol{QStringLiteral("text.bubble"), QStringLiteral("Describe"), {}, false};
    const MenuRowBody::Content otherSymbol{QStringLiteral("globe"), QStringLiteral("Translate"), {}, true};
    EXPECT_EQ(MenuRowBody::titleOffset(bare), int(VelloxTokens::Spacing::s));
    EXPECT_EQ(MenuRowBody::titleOffset(withSymbol), int(VelloxTokens::Spacing::s + 18 + VelloxTokens::Spacing::m));
    EXPECT_EQ(MenuRowBody::titleOffset(withSymbol), MenuRowBody::titleOffset(otherSymbol));
}

TEST(MenuRow, HoverFadesTheBackgroundInOverTheHoverTimeAndOutOnLeaving)
{
    QWidget window;
    auto* row = new MenuRow({QStringLiteral("globe"), QStringLiteral("Row"), {}, false}, [] {}, &window);
    row->resize(300, 28);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    QEnterEvent enter(QPointF(10, 10), QPointF(10, 10), QPointF(10, 10));
    QApplication::sendEvent(row, &enter);
    EXPECT_TRUE(row->isHovered());
    EXPECT_LT(row->hoverOpacity(), 0.5); // fading, not snapped
    QTRY_COMPARE_WITH_TIMEOUT(row->hoverOpacity(), 1.0, 20000);

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(row, &leave);
    EXPECT_FALSE(row->isHovered());
    QTRY_COMPARE_WITH_TIMEOUT(row->hoverOpacity(), 0.0, 20000);
}

TEST(MenuRow, AClickAnywhereRunsTheActionOnce)
{
    int runs = 0;
    MenuRow row({std::nullopt, QStringLiteral("Quit Vellox"), QStringLiteral("Ctrl+Q"), false}, [&] { ++runs; });
    row.resize(300, 28);
    row.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&row));
    QTest::mouseClick(&row, Qt::LeftButton, {}, QPoint(200, 14)); // the gap between title and trailing text
    EXPECT_EQ(runs, 1);
}

TEST(MenuRowToggle, TitleAndSwitchClicksEachFlipTheCallersValueOnce)
{
    bool value = false;
    int writes = 0;
    MenuRowToggle toggle(std::nullopt, QStringLiteral("Pause Vellox"),
                         Binding<bool>{[&] { return value; }, [&](const bool& v) { value = v; ++writes; }});
    toggle.resize(300, 28);
    toggle.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&toggle));

    QTest::mouseClick(&toggle, Qt::LeftButton, {}, QPoint(20, 14));
    EXPECT_TRUE(value);
    EXPECT_EQ(writes, 1);

    SwitchControl* control = toggle.switchControl();
    QTest::mouseClick(control, Qt::LeftButton, {}, control->rect().center());
    EXPECT_FALSE(value);
    EXPECT_EQ(writes, 2);

    value = true; // the caller changes its value elsewhere
    toggle.refresh();
    EXPECT_TRUE(toggle.isOn());
}

TEST(SwitchControl, ReadsAsACheckBoxWhoseStateIsTheCallersValueHoweverItIsToggled)
{
    bool value = false;
    int writes = 0;
    SwitchControl control(Binding<bool>{[&] { return value; }, [&](const bool& v) { value = v; ++writes; }});
    control.setAccessibleName(QStringLiteral("Ask each time"));
    control.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&control));
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(&control);
    ASSERT_NE(iface, nullptr);
    EXPECT_EQ(iface->role(), QAccessible::CheckBox);
    EXPECT_TRUE(iface->state().checkable);
    EXPECT_FALSE(iface->state().checked);

    struct Way {
        const char* name;
        std::function<void()> toggle;
    };
    const Way ways[] = {
        {"a click", [&] { QTest::mouseClick(&control, Qt::LeftButton, {}, control.rect().center()); }},
        {"the space bar", [&] {
             control.setFocus(Qt::TabFocusReason);
             QTest::keyClick(&control, Qt::Key_Space);
         }},
        {"a screen reader's toggle", [&] {
             ASSERT_NE(iface->actionInterface(), nullptr);
             ASSERT_TRUE(iface->actionInterface()->actionNames().contains(QAccessibleActionInterface::toggleAction()));
             iface->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
         }},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        const bool before = value;
        const int writesBefore = writes;
        way.toggle();
        EXPECT_EQ(value, !before);
        EXPECT_EQ(writes, writesBefore + 1);
        EXPECT_EQ(iface->state().checked, value);
    }

    // The caller changes its value elsewhere, or keeps it against a toggle.
    value = !value;
    control.refresh();
    EXPECT_EQ(iface->state().checked, value);
    bool kept = true;
    SwitchControl stubborn(Binding<bool>{[&] { return kept; }, [](const bool&) {}});
    stubborn.click();
    EXPECT_TRUE(stubborn.isChecked());
    EXPECT_TRUE(QAccessible::queryAccessibleInterface(&stubborn)->state().checked);
}

TEST(MenuRowToggle, TheRowReadsAsACheckBoxThatFollowsItsSwitch)
{
    bool value = false;
    MenuRowToggle toggle(std::nullopt, QStringLiteral("Pause Vellox"),
                         Binding<bool>{[&] { return value; }, [&](const bool& v) { value = v; }});
    QAccessibleInterface* row = QAccessible::queryAccessibleInterface(&toggle);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->role(), QAccessible::CheckBox);
    EXPECT_EQ(row->text(QAccessible::Name), QStringLiteral("Pause Vellox"));
    EXPECT_FALSE(row->state().checked);
    row->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_TRUE(value);
    EXPECT_TRUE(row->state().checked);
    toggle.switchControl()->click();
    EXPECT_FALSE(value);
    EXPECT_FALSE(row->state().checked);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(toggle.switchControl())->text(QAccessible::Name),
              QStringLiteral("Pause Vellox"));
}

TEST(SectionLabel, ShowsAnyTextInCapitals)
{
    EXPECT_EQ(SectionLabel(QStringLiteral("Vellox")).displayedText(), QStringLiteral("VELLOX"));
    EXPECT_EQ(SectionLabel(QStringLiteral("straße")).displayedText(), QStringLiteral("STRASSE"));
}

TEST(InlineStatus, DotTakesTheToneColourWhileTheTextStaysSecondary)
{
    InlineStatus status(InlineStatus::Tone::danger, QStringLiteral("Invalid API key"));
    EXPECT_EQ(InlineStatus::dotColor(InlineStatus::Tone::danger, &status), VelloxTokens::Colors::danger.resolved(&status));
    EXPECT_EQ(InlineStatus::dotColor(InlineStatus::Tone::neutral, &status),
              VelloxTokens::Colors::textSecondary.resolved(&status));

    QImage image(status.sizeHint() * 2, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    status.resize(status.sizeHint());
    status.render(&image);
    const QColor dot = image.pixelColor(3, status.sizeHint().height() / 2);
    EXPECT_GT(dot.red(), 200);
    EXPECT_LT(dot.green(), 100);
}

// The announcement of a new text reaches a screen reader over the
// accessibility bus; the x11-bus tests listen for it there.
TEST(InlineStatus, ScreenReadersReadItsTextAsAStatus)
{
    InlineStatus status(InlineStatus::Tone::warning, QStringLiteral("Not connected"));
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(&status);
    ASSERT_NE(iface, nullptr);
    EXPECT_EQ(iface->role(), QAccessible::StatusBar);
    EXPECT_EQ(iface->text(QAccessible::Name), QStringLiteral("Not connected"));

    status.set(InlineStatus::Tone::danger, QStringLiteral("Couldn't save the key. Check that your keyring is unlocked."));
    EXPECT_EQ(iface->text(QAccessible::Name),
              QStringLiteral("Couldn't save the key. Check that your keyring is unlocked."));
}

TEST(PrimaryButton, FillsTheWidthOfItsContainer)
{
    QWidget container;
    auto* layout = new QVBoxLayout(&container);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* button = new PrimaryButton(QStringLiteral("Open Settings"), std::nullopt, [] {});
    layout->addWidget(button);
    container.resize(312, 100);
    container.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&container));
    EXPECT_EQ(button->width(), 312);
}

TEST(PrimaryButton, ElidesTheTitleOnlyWhenTheButtonIsTooNarrow)
{
    struct Case {
        const char* title;
        int width;
        bool elided;
    };
    const Case cases[] = {
        {"Resume", 312, false},
        {"Open Accessibility Settings", 312, false},
        {"Open Accessibility Settings", 90, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        PrimaryButton button(QString::fromUtf8(c.title), std::nullopt, [] {});
        button.resize(c.width, button.sizeHint().height());
        EXPECT_EQ(button.shownTitle() != button.title(), c.elided) << button.shownTitle().toStdString();
        if (c.elided) {
            EXPECT_TRUE(button.shownTitle().endsWith(QChar(0x2026)));
        }
    }
    // At its own size hint the title always fits.
    PrimaryButton hinted(QStringLiteral("Resume"), std::nullopt, [] {});
    hinted.resize(hinted.sizeHint());
    EXPECT_EQ(hinted.shownTitle(), QStringLiteral("Resume"));
}

} // namespace
