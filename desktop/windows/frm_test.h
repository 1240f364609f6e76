// frmTest: the test dialog. The user names the original image, the watermark file
// and the image to be tested; "&Testiraj" reports the similarity and the verdict.
// "O&dustani" or the close box unload it; the next test command starts empty.
#pragma once

#include "desktop/toolkit/form_dialog.h"
#include "image/picture.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace pelinor {

class CommonDialog;
class PictureArea;
class UiServices;

class FrmTest : public NoCancelDialog {
    Q_OBJECT
public:
    FrmTest(CommonDialog& cdlDat, UiServices& ui, QWidget* parent = nullptr);

    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLineEdit* txtParametar[3];
    QPushButton* cmdOdaberi[3];
    QPushButton* cmdTestiraj;
    QPushButton* cmdOdustani;
    // The pictures a test reads; never shown.
    PictureArea* picOriginal;
    PictureArea* picOznacena;

public slots:
    void cmdOdaberi_Click(int Index);
    void cmdTestiraj_Click();
    void cmdOdustani_Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void runTest();
    bool m_centred = false;
    // The box whose file the running test is reading (0 to 2), -1 once all are read.
    int m_reading = -1;
    CommonDialog& m_cdlDat;
    UiServices& m_ui;
};

} // namespace pelinor
