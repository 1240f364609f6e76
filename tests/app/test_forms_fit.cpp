// Every caption fits its control at the designed twips size in the forms' font:
// no clipped labels, buttons or text boxes.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "app/common_dialog.h"
#include "app/frm_dialog.h"
#include "fake_ui.h"
#include "watermark/frm_gen.h"
#include "watermark/frm_test.h"

using namespace pelinor;
using pelinor::test::FakeUi;

class TestFormsFit : public QObject {
    Q_OBJECT
private slots:
    void captionsFit_data();
    void captionsFit();
};

void TestFormsFit::captionsFit_data()
{
    QTest::addColumn<QString>("form");
    QTest::newRow("frmGen") << "frmGen";
    QTest::newRow("frmTest") << "frmTest";
    QTest::newRow("frmDialog") << "frmDialog";
}

void TestFormsFit::captionsFit()
{
    QFETCH(QString, form);
    FakeUi ui;
    CommonDialog cdlDat(ui);
    std::unique_ptr<QWidget> widget;
    if (form == QLatin1String("frmGen")) widget = std::make_unique<FrmGen>(cdlDat, ui);
    if (form == QLatin1String("frmTest")) widget = std::make_unique<FrmTest>(cdlDat, ui);
    if (form == QLatin1String("frmDialog")) widget = std::make_unique<FrmDialog>();
    QVERIFY(widget != nullptr);

    for (const QLabel* label : widget->findChildren<QLabel*>()) {
        const QFontMetrics metrics(label->font());
        const QStringList lines = label->text().split(QLatin1Char('\n'));
        for (const QString& line : lines)
            QVERIFY2(metrics.horizontalAdvance(line) <= label->width(),
                     qPrintable(QStringLiteral("%1: \"%2\" needs %3 px of %4")
                                    .arg(label->objectName(), line)
                                    .arg(metrics.horizontalAdvance(line))
                                    .arg(label->width())));
        QVERIFY2(lines.size() * metrics.lineSpacing() <= label->height(), qPrintable(label->objectName()));
    }
    for (const QPushButton* button : widget->findChildren<QPushButton*>()) {
        const QFontMetrics metrics(button->font());
        const QString caption = QString(button->text()).remove(QLatin1Char('&'));
        QVERIFY2(metrics.horizontalAdvance(caption) + 8 <= button->width(), qPrintable(button->objectName()));
        QVERIFY2(metrics.height() + 6 <= button->height(), qPrintable(button->objectName()));
    }
    for (const QLineEdit* box : widget->findChildren<QLineEdit*>()) {
        const QFontMetrics metrics(box->font());
        QVERIFY2(metrics.height() + 2 <= box->height(), qPrintable(box->objectName()));  // inside the frame
    }
}

QTEST_MAIN(TestFormsFit)
#include "test_forms_fit.moc"
