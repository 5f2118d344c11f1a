#include "PanelsTestSupport.h"

#include "Vellox/panels/SelectionCoordinator.h"
#include "Vellox/panels/TonePickerView.h"
#include "support/FinishAnimations.h"

#include <QTest>

using namespace panels_test;

namespace {

QList<TonePreset> presets(int count)
{
    return TonePreset::builtIns().mid(0, count);
}

TEST(TonePickerView, RowsBadgesAndTitleFollowTheList)
{
    struct Case {
        const char* name;
        bool describeEdit;
        int presetCount;
        QString header;
        QList<std::optional<int>> badges;
    };
    const std::optional<int> none;
    const Case cases[] = {
        {"describe row first", true, 10, "Vellox", {1, 2, 3, 4, 5, 6, 7, 8, 9, none, none}},
        {"presets only", false, 10, "Pick a tone", {1, 2, 3, 4, 5, 6, 7, 8, 9, none}},
        {"empty list", false, 0, "Pick a tone", {}},
    };
    SelectionCoordinator& list = SelectionCoordinator::shared();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        list.replace(c.describeEdit, presets(c.presetCount));
        TonePickerView view(list, [](const TonePickerChoice&) {});
        EXPECT_EQ(view.headerTitle(), c.header);
        const auto rows = view.rowContents();
        QList<std::optional<int>> badges;
        for (const auto& row : rows)
            badges.append(row.badge);
        EXPECT_EQ(badges, c.badges);
        if (c.describeEdit) {
            EXPECT_EQ(rows.first().title, "Describe the edit");
            EXPECT_EQ(rows.first().symbol, "text.bubble");
            EXPECT_EQ(rows[1].title, "Professional");
            EXPECT_EQ(rows[1].symbol, "briefcase.fill");
        }
        if (!rows.isEmpty()) {
            EXPECT_TRUE(rows.first().focused);
        }
        EXPECT_EQ(view.fittingSize().width(), 260);
    }
}

TEST(TonePickerView, ALongNameWrapsInsideTheFixedWidth)
{
    QList<TonePreset> list = presets(2);
    list[1].name = "Sehr freundlich, aber bestimmt und ohne Umschweife formuliert";
    SelectionCoordinator::shared().replace(false, list);
    TonePickerView view(SelectionCoordinator::shared(), [](const TonePickerChoice&) {});
    const auto rows = view.rowContents();
    EXPECT_EQ(view.fittingSize().width(), 260);
    EXPECT_EQ(rows[1].geometry.width(), rows[0].geometry.width());
    EXPECT_GT(rows[1].geometry.height(), rows[0].geometry.height()) << "wrapped to more lines, not cut";
}

TEST(TonePickerView, TheListScrollsToCentreTheFocusOnlyWhenItMoves)
{
    SelectionCoordinator& list = SelectionCoordinator::shared();
    list.replace(true, TonePreset::builtIns());
    TonePickerView view(list, [](const TonePickerChoice&) {});
    view.resize(view.fittingSize());
    view.show();
    const int listTop = view.fittingSize().height() - 360;
    EXPECT_EQ(listTop, view.rowContents().first().geometry.top()) << "the list is capped at 360";
    EXPECT_EQ(view.listScrollOffset(), 0);
    list.moveFocus(10);
    test_support::finishAnimations(view);
    EXPECT_NEAR(view.rowContents()[10].geometry.center().y() - listTop, 360 / 2, 2);
    list.moveFocus(100);
    test_support::finishAnimations(view);
    const auto end = view.rowContents();
    EXPECT_LE(end.last().geometry.bottom(), view.height()) << "the last row stops at the bottom, not the centre";
}

TEST(TonePickerView, AClickAnywhereInARowReportsItsChoice)
{
    SelectionCoordinator::shared().replace(true, presets(3));
    std::optional<TonePickerChoice> picked;
    TonePickerView view(SelectionCoordinator::shared(), [&](const TonePickerChoice& c) { picked = c; });
    view.resize(view.fittingSize());
    view.show();
    const QRect row = view.rowContents()[2].geometry;
    // The empty space between the title and the badge takes the click too.
    QWidget* target = view.childAt(QPoint(row.right() - 40, row.center().y()));
    ASSERT_TRUE(target);
    QTest::mouseClick(target, Qt::LeftButton, {}, target->mapFrom(&view, QPoint(row.right() - 40, row.center().y())));
    EXPECT_EQ(picked, TonePickerChoice::preset(presets(3)[1]));
}

} // namespace
