// The templates on real widgets: places in pixels, tab order, and texts that fit.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <vector>

#include "app/DialogTemplate.h"
#include "app/Resource.h"
#include "qt/DialogBuilder.h"
#include "qt/DialogUnits.h"

namespace {

using ui::DialogTemplate;
using ui::ItemKind;

std::vector<std::pair<int, QWidget*>> build(QDialog& dialog, const ui::DialogTemplate& t) {
    return qtui::buildDialog(dialog, t);
}

QWidget* byId(const std::vector<std::pair<int, QWidget*>>& items, int id) {
    for (const auto& [itemId, widget] : items) {
        if (itemId == id) {
            return widget;
        }
    }
    return nullptr;
}

TEST(Layout, MainTemplateItemsSitAtTheirDialogUnits) {
    QDialog dialog;
    const auto items = build(dialog, ui::mainDialogTemplate());
    EXPECT_EQ(dialog.size(), QSize(518, 457));  // 345 x 281 units

    // A few in pixels worked out by hand, rounding as MulDiv does.
    struct Expected {
        int id;
        QRect rect;
    };
    const Expected expected[] = {
        {IDC_SEND, QRect(435, 143, 60, 20)},           // 290, 88, 40, 12
        {IDC_VOLTAGE_5V, QRect(390, 49, 78, 23)},      // 260, 30, 52, 14
        {IDC_STATE, QRect(98, 254, 101, 23)},          // 65, 156, 67, 14
        {IDC_DESCRIPTION, QRect(23, 171, 471, 60)},    // 15, 105, 314, 37
        {IDC_AUTO_REFRESH, QRect(251, 254, 165, 23)},  // 167, 156, 110, 14
        {IDC_IO_BUFFER, QRect(98, 423, 405, 23)},      // 65, 260, 270, 14
        {IDC_PARAM_LIST, QRect(23, 143, 218, 20)},     // closed: 12 units high
    };
    for (const Expected& e : expected) {
        const QWidget* widget = byId(items, e.id);
        ASSERT_NE(widget, nullptr) << e.id;
        EXPECT_EQ(widget->geometry(), e.rect) << e.id;
    }

    // And every item against the conversion, in template order.
    const auto& templateItems = ui::mainDialogTemplate().items;
    ASSERT_EQ(items.size(), templateItems.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        const ui::TemplateItem& item = templateItems[i];
        const qtui::PixelRect px = qtui::mapDialogRect(item.x, item.y, item.cx, item.cy);
        const QRect geometry = items[i].second->geometry();
        EXPECT_EQ(geometry.topLeft(), QPoint(px.x, px.y)) << "item " << i + 1;
        if (item.kind != ui::ItemKind::DropDownList && item.kind != ui::ItemKind::Bitmap) {
            EXPECT_EQ(geometry.size(), QSize(px.width, px.height)) << "item " << i + 1;
        }
    }
}

TEST(Layout, BitmapTakesItsPictureSize) {
    QDialog dialog;
    const auto items = build(dialog, ui::mainDialogTemplate());
    const auto* picture = qobject_cast<QLabel*>(items[33].second);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->geometry(), QRect(38, 29, 51, 57));
    EXPECT_FALSE(picture->pixmap().isNull());
}

TEST(Layout, TabOrderIsTemplateOrder) {
    QDialog dialog;
    const auto items = build(dialog, ui::mainDialogTemplate());
    const std::vector<int> expected = {
        IDC_SEND,        IDC_VOLTAGE_IN,   IDC_IGNITION,       IDC_VOLTAGE_3V,    IDC_VOLTAGE_5V,
        IDC_VOLTAGE_12V, IDC_TEMPERATURE,  IDC_VOLTAGE_FLAGS,  IDC_STATUS_FLAGS1, IDC_STATUS_FLAGS2,
        IDC_TIMER_FLAGS, IDC_INPUT_FLAGS,  IDC_OUTPUT_FLAGS,   IDC_STATE,         IDC_PARAM_LIST,
        IDC_VALUE_EDIT,  IDC_AUTO_REFRESH, IDC_STATUS_HISTORY, IDC_IO_BUFFER,
    };
    std::vector<int> chain;
    QWidget* first = byId(items, IDC_SEND);
    QWidget* widget = first;
    do {
        if (widget->focusPolicy() & Qt::TabFocus) {
            chain.push_back(widget->objectName().mid(7).toInt());  // "control<id>"
        }
        widget = widget->nextInFocusChain();
    } while (widget != first && chain.size() < 100);
    EXPECT_EQ(chain, expected);
}

TEST(Layout, EveryTextFitsItsRectangle) {
    for (const ui::DialogTemplate* t : {&ui::mainDialogTemplate(), &ui::aboutDialogTemplate()}) {
        QDialog dialog;
        const auto items = build(dialog, *t);
        for (const auto& [id, widget] : items) {
            const auto* label = qobject_cast<QLabel*>(widget);
            if (label == nullptr || label->text().isEmpty() || label->wordWrap()) {
                continue;
            }
            const QFontMetrics metrics(label->font());
            EXPECT_LE(metrics.horizontalAdvance(label->text()), label->contentsRect().width())
                << label->text().toStdString();
            EXPECT_LE(metrics.height(), label->contentsRect().height())
                << label->text().toStdString();
        }
    }
}

TEST(Layout, TheDialogFontHasTheTemplatesBaseUnits) {
    // Base units as a dialog manager measures them: the average width of the 52 letters
    // rounded, and the line height.
    const QFontMetrics metrics(qtui::dialogFont());
    const QString letters = QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ");
    EXPECT_EQ((metrics.horizontalAdvance(letters) + 26) / 52, qtui::DLG_BASE_UNIT_X);
    EXPECT_EQ(metrics.height(), qtui::DLG_BASE_UNIT_Y);
}

TEST(Layout, LabelsShowPlainTextAndGroupBoxesStayUnderneath) {
    QDialog dialog;
    const auto items = build(dialog, ui::mainDialogTemplate());
    int labels = 0;
    for (const auto& [id, widget] : items) {
        if (auto* label = qobject_cast<QLabel*>(widget); label && label->pixmap().isNull()) {
            // Texts come from the device and the table: markup must stay text.
            EXPECT_EQ(label->textFormat(), Qt::PlainText);
            EXPECT_TRUE(label->alignment() & Qt::AlignVCenter) << label->text().toStdString();
            ++labels;
        }
        if (qobject_cast<QGroupBox*>(widget) != nullptr) {
            // Lowest in the stacking order, so no click meant for a control lands on it.
            EXPECT_LT(dialog.children().indexOf(widget), 2);
        }
    }
    EXPECT_EQ(labels, 23);
    // The click on the state edit, inside no group, and on the value edit, inside
    // "Options", both reach the edit.
    for (const int id : {IDC_STATE, IDC_VALUE_EDIT}) {
        QWidget* edit = byId(items, id);
        EXPECT_EQ(dialog.childAt(edit->geometry().center()), edit) << id;
    }
}

}  // namespace
