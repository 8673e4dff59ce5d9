#include "qt/TemplateStyle.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QStyleFactory>
#include <QStyleOption>

namespace qtui {
namespace {

// A captioned group box without a check box: the only kind the templates have.
const QStyleOptionGroupBox* captionedGroup(QStyle::ComplexControl control,
                                           const QStyleOptionComplex* option) {
    const auto* group = qstyleoption_cast<const QStyleOptionGroupBox*>(option);
    if (control != QStyle::CC_GroupBox || group == nullptr || group->text.isEmpty() ||
        (group->subControls & QStyle::SC_GroupBoxCheckBox)) {
        return nullptr;
    }
    return group;
}

}  // namespace

TemplateStyle::TemplateStyle()
    : QProxyStyle(QStyleFactory::create(QApplication::style()->name())) {}

int TemplateStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                             QStyleHintReturn* returnData) const {
    // Styles that open a list as a popup menu over the field show every item, up to the
    // whole screen, whatever the list's height says.
    if (hint == SH_ComboBox_Popup) {
        return 0;
    }
    return QProxyStyle::styleHint(hint, option, widget, returnData);
}

QRect TemplateStyle::subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                                    SubControl subControl, const QWidget* widget) const {
    const QStyleOptionGroupBox* group = captionedGroup(control, option);
    if (group == nullptr) {
        return QProxyStyle::subControlRect(control, option, subControl, widget);
    }
    // The caption at the top of the item's rectangle, indented as the style puts it (at
    // least a character); the frame line through the caption's middle.
    QRect label = QProxyStyle::subControlRect(control, option, SC_GroupBoxLabel, widget);
    label.moveTop(group->rect.top());
    // A piece of line before the caption too, so that it reads as the frame's caption.
    const int indent = group->rect.left() + group->fontMetrics.averageCharWidth();
    if (label.left() < indent) {
        label.moveLeft(indent);
    }
    label.setHeight(group->fontMetrics.height());
    switch (subControl) {
        case SC_GroupBoxLabel:
            return label;
        case SC_GroupBoxFrame:
            return group->rect.adjusted(0, label.center().y() - group->rect.top(), 0, 0);
        default:
            return QProxyStyle::subControlRect(control, option, subControl, widget);
    }
}

void TemplateStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                                       QPainter* painter, const QWidget* widget) const {
    const QStyleOptionGroupBox* group = captionedGroup(control, option);
    if (group == nullptr) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }
    const QRect label = subControlRect(control, option, SC_GroupBoxLabel, widget);
    if (group->subControls & SC_GroupBoxFrame) {
        QStyleOptionFrame frame;
        frame.QStyleOption::operator=(*group);
        frame.features = group->features;
        frame.lineWidth = group->lineWidth;
        frame.midLineWidth = group->midLineWidth;
        // Some styles draw the line below the top of the rectangle they are given, where
        // their own caption would go: move the rectangle up by that much.
        frame.rect = subControlRect(control, option, SC_GroupBoxFrame, widget)
                         .adjusted(0, -frameLineOffset(frame), 0, 0);
        painter->save();
        // The caption interrupts the line, with a little air on either side.
        const int air = group->fontMetrics.averageCharWidth() / 2;
        painter->setClipRegion(QRegion(group->rect) - label.adjusted(-air, 0, air, 0));
        // Without the widget, as the probe drew it: styles look at the widget's own title.
        drawPrimitive(PE_FrameGroupBox, &frame, painter, nullptr);
        painter->restore();
    }
    if (group->subControls & SC_GroupBoxLabel) {
        drawItemText(painter, label, Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextShowMnemonic,
                     group->palette, (group->state & State_Enabled) != 0, group->text,
                     QPalette::WindowText);
    }
}

int TemplateStyle::frameLineOffset(const QStyleOptionFrame& frame) const {
    if (m_frameLineOffset < 0) {
        constexpr int PROBE_SIZE = 64;
        QImage probe(PROBE_SIZE, PROBE_SIZE, QImage::Format_ARGB32_Premultiplied);
        probe.fill(Qt::transparent);
        QStyleOptionFrame option = frame;
        option.rect = probe.rect();
        QPainter painter(&probe);
        drawPrimitive(PE_FrameGroupBox, &option, &painter, nullptr);
        painter.end();
        m_frameLineOffset = 0;
        for (int y = 0; y < PROBE_SIZE; ++y) {
            if (qAlpha(probe.pixel(PROBE_SIZE / 2, y)) != 0) {
                m_frameLineOffset = y;
                break;
            }
        }
    }
    return m_frameLineOffset;
}

}  // namespace qtui
