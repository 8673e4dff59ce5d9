#include "qt/DialogBuilder.h"

#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>

#include "qt/Cp1252.h"
#include "qt/DialogUnits.h"
#include "qt/Resources.h"
#include "qt/TemplateStyle.h"

namespace qtui {
namespace {

constexpr int DIALOG_FONT_POINTS = 8;

QLabel* makeLabel(QWidget& parent, const QString& text, Qt::Alignment alignment) {
    auto* label = new QLabel(&parent);
    // Texts come from the device and the table: never interpret them as markup.
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setAlignment(alignment | Qt::AlignVCenter);
    return label;
}

QLineEdit* makeEdit(QWidget& parent, bool readOnly) {
    auto* edit = new QLineEdit(&parent);
    edit->setReadOnly(readOnly);
    if (readOnly) {
        // Read-only fields look like the window, as the user knows them from the
        // controller's other tools; the border stays.
        QPalette palette = edit->palette();
        palette.setColor(QPalette::Base, palette.color(QPalette::Window));
        edit->setPalette(palette);
    }
    return edit;
}

QLabel* makePicture(QWidget& parent, const QPixmap& pixmap) {
    auto* picture = new QLabel(&parent);
    picture->setPixmap(pixmap);
    return picture;
}

QWidget* makeItem(QDialog& dialog, const ui::TemplateItem& item, const QString& text) {
    switch (item.kind) {
        case ui::ItemKind::DefaultButton: {
            auto* button = new QPushButton(text, &dialog);
            button->setAutoDefault(true);
            button->setDefault(true);
            return button;
        }
        case ui::ItemKind::PushLikeCheck: {
            auto* button = new QPushButton(text, &dialog);
            button->setCheckable(true);
            // A check box, not a push button: Enter on it still presses the default button.
            button->setAutoDefault(false);
            return button;
        }
        case ui::ItemKind::RightLabel:
            return makeLabel(dialog, text, Qt::AlignRight);
        case ui::ItemKind::Label:
            return makeLabel(dialog, text, Qt::AlignLeft);
        case ui::ItemKind::BorderLabel: {
            QLabel* label = makeLabel(dialog, text, Qt::AlignLeft);
            label->setFrameStyle(QFrame::Box | QFrame::Plain);
            label->setLineWidth(1);
            label->setWordWrap(true);
            return label;
        }
        case ui::ItemKind::TextBlock: {
            auto* label = new QLabel(&dialog);
            label->setTextFormat(Qt::PlainText);
            label->setText(text);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            label->setWordWrap(true);
            return label;
        }
        case ui::ItemKind::ReadOnlyEdit:
            return makeEdit(dialog, true);
        case ui::ItemKind::Edit:
            return makeEdit(dialog, false);
        case ui::ItemKind::GroupBox:
            return new QGroupBox(text, &dialog);
        case ui::ItemKind::DropDownList: {
            auto* list = new QComboBox(&dialog);
            list->setEditable(false);
            list->setInsertPolicy(QComboBox::InsertAtBottom);
            return list;
        }
        case ui::ItemKind::Bitmap:
            return makePicture(dialog, resourceBitmap(item.resource));
        case ui::ItemKind::Icon: {
            const int size = dialog.style()->pixelMetric(QStyle::PM_LargeIconSize);
            return makePicture(dialog, resourceIcon(item.resource).pixmap(size, size));
        }
    }
    return nullptr;
}

void placeItem(QWidget& widget, const ui::TemplateItem& item) {
    const PixelRect rect = mapDialogRect(item.x, item.y, item.cx, item.cy);
    switch (item.kind) {
        case ui::ItemKind::Bitmap:
        case ui::ItemKind::Icon: {
            // A picture control takes the size of its picture.
            const QSize size = widget.sizeHint();
            widget.setGeometry(rect.x, rect.y, size.width(), size.height());
            return;
        }
        case ui::ItemKind::DropDownList:
            widget.setGeometry(rect.x, rect.y, rect.width,
                               dluToPixelsY(DROP_DOWN_CLOSED_HEIGHT_DU));
            return;
        default:
            widget.setGeometry(rect.x, rect.y, rect.width, rect.height);
            return;
    }
}

}  // namespace

QString accessibleNameFromLabel(const QString& label) {
    QString name = label.trimmed();
    if (name.endsWith(QLatin1Char(':'))) {
        name.chop(1);
    }
    return name;
}

QFont dialogFont() {
    // DejaVu Sans Condensed at 8 points has the 6 x 13 pixel base units of the font the
    // templates were drawn for, so every label fits its rectangle; plain DejaVu Sans is the
    // fallback where the condensed face is not installed.
    QFont font;
    font.setFamilies({QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("DejaVu Sans")});
    font.setPointSize(DIALOG_FONT_POINTS);
    return font;
}

std::vector<std::pair<int, QWidget*>> buildDialog(QDialog& dialog,
                                                  const ui::DialogTemplate& dialogTemplate) {
    dialog.setFont(dialogFont());
    dialog.setWindowTitle(fromCp1252(dialogTemplate.caption));
    dialog.setFixedSize(dluToPixelsX(dialogTemplate.cx), dluToPixelsY(dialogTemplate.cy));

    std::vector<std::pair<int, QWidget*>> items;
    items.reserve(dialogTemplate.items.size());
    QWidget* previousTabStop = nullptr;
    for (const ui::TemplateItem& item : dialogTemplate.items) {
        QWidget* widget = makeItem(dialog, item, fromCp1252(item.text));
        widget->setObjectName(item.id == ui::IDC_STATIC ? QStringLiteral("static")
                                                        : QStringLiteral("control%1").arg(item.id));
        placeItem(*widget, item);
        if (widget->focusPolicy() & Qt::TabFocus) {
            if (previousTabStop != nullptr) {
                QWidget::setTabOrder(previousTabStop, widget);
            }
            previousTabStop = widget;
        }
        items.emplace_back(item.id, widget);
    }
    // Each label names its field: its mnemonic moves the focus there, and a screen reader
    // announces the field by the label's text.
    for (std::size_t i = 0; i < items.size(); ++i) {
        const ui::TemplateItem& item = dialogTemplate.items[i];
        QWidget* field = nullptr;
        for (const auto& [id, widget] : items) {
            if (item.buddy != 0 && id == item.buddy) {
                field = widget;
            }
        }
        if (field == nullptr) {
            continue;
        }
        if (auto* label = qobject_cast<QLabel*>(items[i].second)) {
            label->setBuddy(field);
        }
        field->setAccessibleName(accessibleNameFromLabel(fromCp1252(item.text)));
    }

    // Made after the widgets, so that it outlives every widget using it. The lists and the
    // group boxes look as the user's style draws them, but behave as the template expects.
    auto* templateStyle = new TemplateStyle;
    templateStyle->setParent(&dialog);
    for (const auto& [id, widget] : items) {
        if (qobject_cast<QGroupBox*>(widget) != nullptr) {
            // Group boxes only frame their neighbours: keep them underneath, so they never
            // take the clicks meant for the controls inside them.
            widget->lower();
            widget->setStyle(templateStyle);
        } else if (qobject_cast<QComboBox*>(widget) != nullptr) {
            widget->setStyle(templateStyle);
        }
    }
    return items;
}

}  // namespace qtui
