#include "qt/AboutDialog.h"

#include <QAbstractButton>
#include <QLabel>

#include "app/CAboutDlg.h"
#include "app/Resource.h"
#include "qt/Cp1252.h"
#include "qt/DialogBuilder.h"
#include "qt/Resources.h"

namespace qtui {

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setWindowIcon(resourceIcon(CAboutDlg::ICON));
    for (const auto& [id, widget] : buildDialog(*this, ui::aboutDialogTemplate())) {
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            if (id == ui::IDC_ABOUT_PROGRAM) {
                label->setText(fromCp1252(CAboutDlg::programLine()));
            } else if (id == ui::IDC_ABOUT_DESCRIPTION) {
                label->setText(fromCp1252(CAboutDlg::descriptionLine()));
            }
        } else if (auto* button = qobject_cast<QAbstractButton*>(widget);
                   button && id == DIALOG_OK) {
            connect(button, &QAbstractButton::clicked, this, [this] { done(DIALOG_OK); });
        }
    }
    setWindowTitle(fromCp1252(CAboutDlg::CAPTION));
}

void AboutDialog::reject() {
    done(DIALOG_CANCEL);
}

}  // namespace qtui
