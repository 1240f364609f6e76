// frmDialog: the about box. OK hides it (the next showing is the same box); its
// close box destroys it (the next showing creates it anew).
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class QFrame;

namespace pelinor {

class FrmDialog : public QDialog {
    Q_OBJECT
public:
    explicit FrmDialog(QWidget* parent = nullptr);

    QPushButton* OKButton;
    QLabel* lblProgram;
    QLabel* lblAutor;
    QLabel* Label1;
    QFrame* Line1;

public slots:
    void OKButton_Click();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Form_Load();
};

} // namespace pelinor
