#include <gtest/gtest.h>

#include <set>

#include "app/form.h"
#include "app/layout.h"
#include "app/text.h"

TEST(Form, RaisesChangeOnlyWhenTheTextReallyChanges) {
    app::Form form;
    std::vector<std::string> changes;
    form.onChange([&](std::string_view control) { changes.emplace_back(control); });
    form.setText("account_Combo", "jdoe");
    form.setText("account_Combo", "jdoe");
    form.setText("account_Combo", "");
    form.setText("trgSrv", "CORP");
    EXPECT_EQ(changes, (std::vector<std::string>{"account_Combo", "account_Combo", "trgSrv"}));
}

TEST(Form, ChangeRunsAtOnceAndReentrantly) {
    app::Form form;
    std::vector<std::string> seen;
    form.onChange([&](std::string_view) {
        const std::string text = form.text("account_Combo");
        seen.push_back("enter " + text);
        form.setText("account_Combo", app::trimSpaces(text));
        seen.push_back("leave " + form.text("account_Combo"));
    });
    form.setText("account_Combo", " jdoe ");
    EXPECT_EQ(seen, (std::vector<std::string>{"enter  jdoe ", "enter jdoe", "leave jdoe", "leave jdoe"}));
}

TEST(Form, ViewHearsOfEveryChangeBeforeTheHandler) {
    app::Form form;
    std::vector<std::string> order;
    form.onViewUpdate(
        [&](std::string_view control, app::Form::Property) { order.push_back("view " + std::string(control)); });
    form.onChange([&](std::string_view control) { order.push_back("change " + std::string(control)); });
    form.setText("account_Combo", "a");
    form.setEnabled("AccountLimit", false);
    form.setEnabled("AccountLimit", false);
    form.setValue("Check1", 1);
    form.addItem("account_Combo", "x");
    form.setCaption("Quillmarsh 1.0.0");
    EXPECT_EQ(order, (std::vector<std::string>{"view account_Combo", "change account_Combo", "view AccountLimit",
                                               "view Check1", "view account_Combo", "view "}));
    EXPECT_THROW(form.text("NoSuchControl"), std::invalid_argument);
}

TEST(Form, StartsWithTheDesignedCaptionsAndStates) {
    app::Form form;
    EXPECT_EQ(form.caption(), "Quillmarsh");
    EXPECT_EQ(form.text("Command2"), "ロック解除/パスワードリセット");
    EXPECT_EQ(form.text("Label2"), "対象サーバ/ドメイン指定");
    EXPECT_EQ(form.text("account_Combo"), "");
    EXPECT_EQ(form.text("DisplayCondition"), "");
    EXPECT_EQ(form.value("Check1"), 0);
    EXPECT_TRUE(form.enabled("AccountLimit"));
    EXPECT_TRUE(form.items("account_Combo").empty());
}

TEST(Layout, HasSeventeenControlsInsideTheWindowWithUniqueTabIndexes) {
    std::set<int> tabs;
    std::set<std::string_view> names;
    for (const auto& c : app::kControls) {
        tabs.insert(c.tabIndex);
        names.insert(c.name);
        int width = app::kWindow.clientWidth, height = app::kWindow.clientHeight;
        if (!c.container.empty()) {
            const auto* frame = app::findControl(c.container);
            ASSERT_NE(frame, nullptr) << c.name;
            EXPECT_EQ(frame->kind, app::ControlKind::Frame);
            width = frame->width;
            height = frame->height;
        }
        EXPECT_LE(c.left + c.width, width) << c.name;
        EXPECT_LE(c.top + c.height, height) << c.name;
        EXPECT_FALSE(c.passwordMask);
    }
    EXPECT_EQ(app::kControls.size(), 17u);
    EXPECT_EQ(names.size(), 17u);
    EXPECT_EQ(tabs, (std::set<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}));
    const auto order = app::tabOrder();
    EXPECT_EQ(order.front()->name, "trgSrv");
    EXPECT_EQ(order.back()->name, "account_Combo");
    EXPECT_EQ(app::findControl("account_Combo")->fontPoints, 18);
    EXPECT_EQ(app::findControl("NoSuch"), nullptr);
}

TEST(Layout, TwipsScaleWithTheScreen) {
    EXPECT_EQ(app::twipsToPixels(app::kWindow.clientWidth, 96), 305);
    EXPECT_EQ(app::twipsToPixels(app::kWindow.clientHeight, 96), 254);
    EXPECT_EQ(app::twipsToPixels(app::kWindow.clientWidth, 144), 458);
    EXPECT_EQ(app::twipsToPixels(15, 96), 1);
    EXPECT_EQ(*app::buddyLabelFor("trgSrv"), "Label2");
    EXPECT_FALSE(app::buddyLabelFor("Command1"));
}

TEST(Text, TrimsOrdinaryAndIdeographicSpacesOnly) {
    EXPECT_EQ(app::trimSpaces("  jdoe "), "jdoe");
    EXPECT_EQ(app::trimSpaces("\xE3\x80\x80jdoe\xE3\x80\x80 "), "jdoe");
    EXPECT_EQ(app::trimSpaces(" jo doe "), "jo doe");
    EXPECT_EQ(app::trimSpaces("\tjdoe"), "\tjdoe");
    EXPECT_TRUE(app::isBlank("   "));
    EXPECT_TRUE(app::isBlank(""));
    EXPECT_FALSE(app::isBlank(" . "));
}
