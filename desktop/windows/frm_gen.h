// frmGen: the watermark generation dialog. Created with its initial texts each time
// it is opened and discarded when it closes ("O&dustani", the close box, or values it
// cannot use); a successful generation, or a file that cannot be written, leaves it open.
#pragma once

#include "desktop/toolkit/form_dialog.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace pelinor {

class CommonDialog;
class UiServices;

class FrmGen : public NoCancelDialog {
    Q_OBJECT
public:
    FrmGen(CommonDialog& cdlDat, UiServices& ui, QWidget* parent = nullptr);

    QWidget* picGen;
    QLabel* Label1[5];
    QLineEdit* txtImeDat;
    QPushButton* cmdOdaberi;
    QLineEdit* txtVelicina;
    QLineEdit* txtAlfa;
    QLineEdit* txtSrednjaVrije;
    QLineEdit* txtDev;
    QPushButton* cmdGen;
    QPushButton* cmdOdustani;

public slots:
    void cmdOdaberi_Click();
    void cmdGen_Click();
    void cmdOdustani_Click();

private:
    // The dialog's warning for values it cannot use; the dialog closes.
    void badParameters();

    CommonDialog& m_cdlDat;
    UiServices& m_ui;
};

} // namespace pelinor
