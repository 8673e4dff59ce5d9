// What the templates expect of every widget style: the dropped list within its template
// height, group captions on their frame lines, and fields named by their labels.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>
#include <string>

#include "app/Resource.h"
#include "qt/DialogBuilder.h"
#include "qt/DialogTemplate.h"
#include "qt/DialogUnits.h"
#include "qt/QtDialogWindow.h"

namespace {

// Runs each test under the named application style.
class UnderStyle : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        m_previous = QApplication::style()->name();
        QApplication::setStyle(QStyleFactory::create(QString::fromLatin1(GetParam())));
    }
    void TearDown() override { QApplication::setStyle(QStyleFactory::create(m_previous)); }

private:
    QString m_previous;
};

TEST_P(UnderStyle, DroppedListStaysWithinTheTemplateHeightBelowItsField) {
    qtui::QtDialogWindow window;
    for (int i = 0; i < 39; ++i) {
        window.addListItem(IDC_PARAM_LIST, "Parameter " + std::to_string(i));
    }
    window.dialog().show();
    auto* list = qobject_cast<QComboBox*>(window.control(IDC_PARAM_LIST));
    ASSERT_NE(list, nullptr);
    list->showPopup();
    QWidget* popup = list->view()->window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(popup));

    const QRect field(list->mapToGlobal(QPoint(0, 0)), list->size());
    const QRect dropped = popup->frameGeometry();
    const int templateHeight = qtui::dluToPixelsY(210);
    EXPECT_GE(dropped.top(), field.bottom());
    EXPECT_LE(dropped.bottom() - field.top() + 1, templateHeight);
    // Most of the height is used: the list is no stub of a few rows either.
    EXPECT_GE(dropped.bottom() - field.top() + 1, templateHeight * 4 / 5);
    list->hidePopup();
}

TEST_P(UnderStyle, GroupCaptionSitsOnItsFrameLine) {
    QDialog dialog;
    const auto items = qtui::buildDialog(dialog, qtui::mainDialogTemplate());
    QGroupBox* options = nullptr;
    QWidget* list = nullptr;
    for (const auto& [id, widget] : items) {
        if (auto* group = qobject_cast<QGroupBox*>(widget);
            group && group->title() == QStringLiteral("Options")) {
            options = group;
        }
        if (id == IDC_PARAM_LIST) {
            list = widget;
        }
    }
    ASSERT_NE(options, nullptr);
    const QImage image = options->grab().toImage();
    const int scale = static_cast<int>(image.devicePixelRatio());
    const int background = qGray(image.pixel(image.width() / 2, image.height() / 2));
    auto differs = [&](int x, int y, int by) {
        return std::abs(qGray(image.pixel(x * scale, y * scale)) - background) > by;
    };

    // The frame line, right of the caption; the caption's ink, left of the middle.
    int line = -1;
    for (int y = 0; y < options->height() / 2 && line < 0; ++y) {
        line = differs(options->width() - 20, y, 8) ? y : -1;
    }
    int inkTop = -1;
    int inkBottom = -1;
    for (int y = 0; y < options->height() / 2; ++y) {
        for (int x = 2; x < options->width() / 4; ++x) {
            if (differs(x, y, 100)) {
                inkTop = inkTop < 0 ? y : inkTop;
                inkBottom = y;
            }
        }
    }
    ASSERT_GE(line, 0);
    ASSERT_GE(inkTop, 0);
    EXPECT_LE(std::abs(2 * line - (inkTop + inkBottom)), 4)
        << "line " << line << ", caption " << inkTop << ".." << inkBottom;
    // The list below the line by what the template puts between them (about 17 pixels).
    EXPECT_NEAR(list->y() - (options->y() + line), 17, 3);
}

INSTANTIATE_TEST_SUITE_P(Styles, UnderStyle, ::testing::Values("Fusion", "Windows"));

TEST(Accessibility, EveryFieldIsNamedByItsLabel) {
    QDialog dialog;
    const auto items = qtui::buildDialog(dialog, qtui::mainDialogTemplate());
    int named = 0;
    for (const auto& [id, widget] : items) {
        auto* label = qobject_cast<QLabel*>(widget);
        if (label != nullptr && label->buddy() != nullptr) {
            EXPECT_EQ(label->buddy()->accessibleName(),
                      qtui::accessibleNameFromLabel(label->text()));
            ++named;
        }
    }
    EXPECT_EQ(named, 16);  // fifteen read-only fields and the value edit
    for (const auto& [id, widget] : items) {
        // Every field a user can tab to has a name a screen reader can announce.
        if ((widget->focusPolicy() & Qt::TabFocus) && qobject_cast<QLineEdit*>(widget)) {
            EXPECT_FALSE(widget->accessibleName().isEmpty()) << id;
        }
    }
    for (const auto& [id, widget] : items) {
        if (id == IDC_VOLTAGE_IN) {
            EXPECT_EQ(widget->accessibleName(), QStringLiteral("Voltage In"));
        } else if (id == IDC_PARAM_LIST) {
            EXPECT_EQ(widget->accessibleName(), QStringLiteral("Options"));
        }
    }
}

TEST(Accessibility, TheValueEditIsNamedByTheUnitItShows) {
    qtui::QtDialogWindow window;
    window.setControlText(IDC_UNIT_LABEL, "[s]");
    EXPECT_EQ(window.control(IDC_VALUE_EDIT)->accessibleName(), QStringLiteral("[s]"));
}

}  // namespace
