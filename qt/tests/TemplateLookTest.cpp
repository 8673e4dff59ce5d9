// What the templates expect of every widget style: the dropped list within its template
// height, group captions on their frame lines, and fields named by their labels.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QStyleFactory>
#include <QTest>
#include <string>

#include "app/Resource.h"
#include "qt/DialogBuilder.h"
#include "qt/DialogUnits.h"
#include "qt/QtDialogWindow.h"

namespace {

// Runs each test under the named application style.
class UnderStyle : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        m_previous = QApplication::style()->name();
        QApplication::setStyle(QStyleFactory::create(QString::fromLatin1(GetParam())));
        for (int i = 0; i < 39; ++i) {
            m_window.addListItem(IDC_PARAM_LIST, "Parameter " + std::to_string(i));
        }
        m_window.dialog().show();
    }
    void TearDown() override { QApplication::setStyle(QStyleFactory::create(m_previous)); }

    QString m_previous;
    qtui::QtDialogWindow m_window;
};

TEST_P(UnderStyle, DroppedListStaysWithinTheTemplateHeightBelowItsField) {
    auto* list = qobject_cast<QComboBox*>(m_window.control(IDC_PARAM_LIST));
    list->showPopup();
    QWidget* popup = list->view()->window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(popup));
    const QRect field(list->mapToGlobal(QPoint(0, 0)), list->size());
    const QRect dropped = popup->frameGeometry();
    const int templateHeight = qtui::dluToPixelsY(210);
    EXPECT_GE(dropped.top(), field.bottom());
    // Within the template's height, and most of it used.
    EXPECT_LE(dropped.bottom() - field.top() + 1, templateHeight);
    EXPECT_GE(dropped.bottom() - field.top() + 1, templateHeight * 4 / 5);
}

TEST_P(UnderStyle, GroupCaptionSitsOnItsFrameLine) {
    QGroupBox* options = nullptr;
    for (auto* group : m_window.dialog().findChildren<QGroupBox*>()) {
        options = group->title() == QStringLiteral("Options") ? group : options;
    }
    ASSERT_NE(options, nullptr);
    const QImage image = options->grab().toImage();
    const int scale = static_cast<int>(image.devicePixelRatio());
    const int background = qGray(image.pixel(image.width() / 2, image.height() / 2));
    auto differs = [&](int x, int y, int by) {
        return std::abs(qGray(image.pixel(x * scale, y * scale)) - background) > by;
    };
    // The frame line right of the caption; the caption's ink in the left quarter.
    int line = -1;
    int inkTop = -1;
    int inkBottom = -1;
    for (int y = options->height() / 2; y >= 0; --y) {
        line = differs(options->width() - 20, y, 8) ? y : line;
        for (int x = 2; x < options->width() / 4; ++x) {
            if (differs(x, y, 100)) {
                inkTop = y;
                inkBottom = inkBottom < 0 ? y : inkBottom;
            }
        }
    }
    ASSERT_GE(line, 0);
    ASSERT_GE(inkTop, 0);
    EXPECT_LE(std::abs(2 * line - (inkTop + inkBottom)), 4)
        << "line " << line << ", caption " << inkTop << ".." << inkBottom;
    // The list below the line by what the template puts between them (about 17 pixels).
    EXPECT_NEAR(m_window.control(IDC_PARAM_LIST)->y() - (options->y() + line), 17, 3);
}

INSTANTIATE_TEST_SUITE_P(Styles, UnderStyle, ::testing::Values("Fusion", "Windows"));

TEST(Accessibility, EveryLabelNamesItsField) {
    qtui::QtDialogWindow window;
    int named = 0;
    for (const QLabel* label : window.dialog().findChildren<QLabel*>()) {
        if (label->buddy() != nullptr) {
            EXPECT_EQ(label->buddy()->accessibleName(),
                      qtui::accessibleNameFromLabel(label->text()));
            ++named;
        }
    }
    EXPECT_EQ(named, 16);  // fifteen read-only fields and the value edit
    EXPECT_EQ(window.control(IDC_VOLTAGE_IN)->accessibleName(), QStringLiteral("Voltage In"));
    EXPECT_EQ(window.control(IDC_PARAM_LIST)->accessibleName(), QStringLiteral("Options"));
    window.setControlText(IDC_UNIT_LABEL, "[s]");  // the unit the value edit is in
    EXPECT_EQ(window.control(IDC_VALUE_EDIT)->accessibleName(), QStringLiteral("[s]"));
}

}  // namespace
