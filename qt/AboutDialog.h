// The About box: dialog template 100 with the texts of CAboutDlg.
#pragma once

#include <QDialog>

namespace qtui {

class AboutDialog final : public QDialog {
    Q_OBJECT

public:
    explicit AboutDialog(QWidget* parent);

    // Esc and the close box end it with DIALOG_CANCEL, OK with DIALOG_OK.
    void reject() override;
};

}  // namespace qtui
