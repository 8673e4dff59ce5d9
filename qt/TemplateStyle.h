// The user's own widget style, with the two things the dialog templates rely on that some
// styles do differently: a drop-down list drops below its field with as many rows as its
// template height holds, and a group box's caption sits on its frame line.
#pragma once

#include <QProxyStyle>

class QStyleOptionFrame;

namespace qtui {

class TemplateStyle final : public QProxyStyle {
    Q_OBJECT

public:
    // A new instance of the application's current style underneath.
    TemplateStyle();

    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override;
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                         SubControl subControl, const QWidget* widget) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                            QPainter* painter, const QWidget* widget) const override;

private:
    // How far below the top of its rectangle the style draws a group box's frame line.
    int frameLineOffset(const QStyleOptionFrame& frame) const;

    mutable int m_frameLineOffset = -1;  // measured once, on first use
};

}  // namespace qtui
