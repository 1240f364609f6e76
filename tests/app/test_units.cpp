// The small pieces under the windows: the layout rule, the filter
// conversion, numbers in the user's locale, failure texts, the hourglass guard,
// the picture display, the real Qt dialogs and captions that fit their controls.
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>

#include "app/common_dialog.h"
#include "app/failure_text.h"
#include "app/frm_dialog.h"
#include "app/numbers.h"
#include "app/picture_area.h"
#include "fake_ui.h"
#include "image/frm_slika.h"
#include "obrada/error.h"
#include "watermark/frm_gen.h"
#include "watermark/frm_test.h"

using namespace pelinor;
using pelinor::test::FakeUi;
using pelinor::test::Recorded;
using OptDouble = std::optional<double>;
using OptInt = std::optional<std::int32_t>;

Q_DECLARE_METATYPE(OptDouble)
Q_DECLARE_METATYPE(OptInt)
Q_DECLARE_METATYPE(pelinor::FileDialogMode)
Q_DECLARE_METATYPE(pelinor::MessageIcon)

class TestGuiUnits : public QObject {
    Q_OBJECT
private slots:
    void layoutRule_data();
    void layoutRule();
    void qtFilter_data();
    void qtFilter();
    void parse_data();
    void parse();
    void display_data();
    void display();
    void failureTexts();
    void waitCursorRestoresOnEveryPath();
    void displayReadsStoredRows_data();
    void displayReadsStoredRows();
    void realFileDialog_data();
    void realFileDialog();
    void realMessageBox_data();
    void realMessageBox();
    void captionsFit_data();
    void captionsFit();
};

namespace {

// The first visible top-level widget of type T.
template <class T>
T* shownTopLevel()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* found = qobject_cast<T*>(widget); found != nullptr && found->isVisible()) return found;
    return nullptr;
}

}  // namespace

void TestGuiUnits::layoutRule_data()
{
    QTest::addColumn<double>("outer");
    QTest::addColumn<double>("area");
    QTest::addColumn<int>("offset");
    QTest::newRow("equal width gives 0") << 7335.0 << 7335.0 << 0;
    QTest::newRow("3 twips narrower gives -1") << 7332.0 << 7335.0 << -1;
    QTest::newRow("3 twips wider gives 1") << 7338.0 << 7335.0 << 1;
    QTest::newRow("half rounds to even (down)") << 1002.5 << 1000.0 << 1;  // 2.5 -> 2 -> 1
    QTest::newRow("half rounds to even (up)") << 1003.5 << 1000.0 << 2;    // 3.5 -> 4 -> 2
    QTest::newRow("negative half to even") << 1000.0 << 1002.5 << -1;      // -2.5 -> -2 -> -1
    QTest::newRow("much larger picture") << 3000.0 << 15001.0 << -6000;    // -12001 \ 2
}

void TestGuiUnits::layoutRule()
{
    QFETCH(double, outer);
    QFETCH(double, area);
    QFETCH(int, offset);
    QCOMPARE(layoutOffset(outer, area), offset);
}

void TestGuiUnits::qtFilter_data()
{
    QTest::addColumn<QString>("classic");
    QTest::addColumn<QString>("qt");
    QTest::newRow("one entry") << "Žigovi (*.wmk)|*.wmk" << "Žigovi (*.wmk)";
    QTest::newRow("description without pattern") << "Slike|*.bmp;*.png" << "Slike (*.bmp *.png)";
    QTest::newRow("two entries") << "Bitmape (*.bmp)|*.bmp|Sve (*.*)|*.*" << "Bitmape (*.bmp);;Sve (*.*)";
    QTest::newRow("pattern field wins") << "Bitmape (*.bmp)|*.bmp;*.dib" << "Bitmape (*.bmp *.dib)";
}

void TestGuiUnits::qtFilter()
{
    QFETCH(QString, classic);
    QFETCH(QString, qt);
    QCOMPARE(toQtFilter(classic), qt);
}

void TestGuiUnits::parse_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("text");
    QTest::addColumn<OptDouble>("number");
    QTest::addColumn<OptInt>("length");  // rounded half to even
    QTest::newRow("C period") << "C" << "0.3" << OptDouble(0.3) << OptInt(0);
    QTest::newRow("C blanks, half to even") << "C" << " -2.5 " << OptDouble(-2.5) << OptInt(-2);
    QTest::newRow("C half up to even") << "C" << "3.5" << OptDouble(3.5) << OptInt(4);
    QTest::newRow("C exponent") << "C" << "1e3" << OptDouble(1000.0) << OptInt(1000);
    QTest::newRow("C comma is not a decimal") << "C" << "0,3" << OptDouble() << OptInt();
    QTest::newRow("hr comma") << "hr_HR" << "7,6" << OptDouble(7.6) << OptInt(8);
    QTest::newRow("hr period is not a decimal") << "hr_HR" << "0.3" << OptDouble() << OptInt();
    QTest::newRow("letters") << "C" << "sto" << OptDouble() << OptInt();
    QTest::newRow("empty") << "C" << "" << OptDouble() << OptInt();
    QTest::newRow("overflow") << "C" << "1e400" << OptDouble() << OptInt();
    QTest::newRow("largest length") << "C" << "2147483647" << OptDouble(2147483647.0) << OptInt(2147483647);
    QTest::newRow("too large") << "C" << "2147483648" << OptDouble(2147483648.0) << OptInt();
    QTest::newRow("smallest") << "C" << "-2147483648" << OptDouble(-2147483648.0) << OptInt(-2147483647 - 1);
}

void TestGuiUnits::parse()
{
    QFETCH(QString, locale);
    QFETCH(QString, text);
    QFETCH(OptDouble, number);
    QFETCH(OptInt, length);
    QCOMPARE(parseLocaleDouble(text, QLocale(locale)), number);
    QCOMPARE(parseLocaleInt32(text, QLocale(locale)), length);
}

void TestGuiUnits::display_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("hr comma") << "hr_HR" << 0.5 << "0,5";
    QTest::newRow("15 significant digits") << "hr_HR" << 0.123456789012345678 << "0,123456789012346";
    QTest::newRow("negative with ascii minus") << "hr_HR" << -0.25 << "-0,25";
    QTest::newRow("no group separators") << "en_US" << 1234567.5 << "1234567.5";
    QTest::newRow("tiny in exponent form") << "hr_HR" << 1.5e-7 << "1,5E-07";
    QTest::newRow("zero") << "hr_HR" << 0.0 << "0";
}

void TestGuiUnits::display()
{
    QFETCH(QString, locale);
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(formatForDisplay(value, QLocale(locale)), text);
}

void TestGuiUnits::failureTexts()
{
    const Error missing(err::FileNotFound, "File not found: /x/y.bmp");
    QCOMPARE(failureMessage(QStringLiteral("Slika se ne može otvoriti."), QStringLiteral("/x/y.bmp"), missing),
             QStringLiteral("Slika se ne može otvoriti.\n\nDatoteka: /x/y.bmp\nRazlog: datoteka ne postoji "
                            "(pogreška 53)."));
    // Numbers without a Croatian reason fall back to the core's own text.
    QCOMPARE(failureReason(Error(4242, "Something odd")), QStringLiteral("Something odd"));
    QCOMPARE(runtimeErrorMessage(missing), QStringLiteral("Pogreška 53:\n\nFile not found: /x/y.bmp"));
    try {
        throw std::runtime_error("plain");
    } catch (...) {
        const Error error = currentError();
        QCOMPARE(error.number(), 0);
        QCOMPARE(QString::fromUtf8(error.what()), QStringLiteral("plain"));
    }
}

void TestGuiUnits::waitCursorRestoresOnEveryPath()
{
    FakeUi ui;
    try {
        WaitCursor outer(ui);
        {
            WaitCursor inner(ui);
            QCOMPARE(ui.waitDepth(), 2);
            inner.release();
            QCOMPARE(ui.waitDepth(), 1);
        }  // a released guard does not restore twice
        QCOMPARE(ui.waitDepth(), 1);
        throw Error(err::Overflow, "boom");
    } catch (const Error&) {
    }
    QCOMPARE(ui.waitDepth(), 0);
    QCOMPARE(ui.log.size(), std::size_t(4));
}

void TestGuiUnits::displayReadsStoredRows_data()
{
    QTest::addColumn<bool>("topDown");
    QTest::newRow("bottom-up") << false;
    QTest::newRow("top-down") << true;
}

void TestGuiUnits::displayReadsStoredRows()
{
    QFETCH(bool, topDown);
    // 3 x 2 pixels: stride 12 bytes, 3 of them padding. Each pixel's colour comes
    // from its visual place, so a flipped or shifted row shows up.
    const PictureRef picture = Picture::create(3, 2, 24, topDown);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            std::uint8_t* pixel = picture->bits() + std::size_t(picture->storedRow(y)) * picture->stride() + 3 * x;
            pixel[0] = std::uint8_t(10 + x);   // blue
            pixel[1] = std::uint8_t(100 + y);  // green
            pixel[2] = 200;                    // red
        }
    const QImage image = toQImage(*picture);
    QCOMPARE(image.size(), QSize(3, 2));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) QCOMPARE(image.pixel(x, y), qRgb(200, 100 + y, 10 + x));
    PictureArea area;
    area.setPicture(picture);
    QCOMPARE(area.size(), QSize(3, 2));  // one pixel per pixel
    QCOMPARE(area.grab().toImage().convertToFormat(QImage::Format_RGB32).pixel(2, 1), qRgb(200, 101, 12));
}

void TestGuiUnits::realFileDialog_data()
{
    QTest::addColumn<FileDialogMode>("mode");
    QTest::addColumn<bool>("accept");
    QTest::newRow("open, cancelled") << FileDialogMode::Open << false;
    QTest::newRow("save, accepted") << FileDialogMode::Save << true;
}

void TestGuiUnits::realFileDialog()
{
    QFETCH(FileDialogMode, mode);
    QFETCH(bool, accept);
    const QString start = QDir::temp().filePath(QStringLiteral("pelinor-nema-takve-datoteke.bmp"));
    bool checked = false;
    QTimer::singleShot(0, [&] {
        QFileDialog* dialog = shownTopLevel<QFileDialog>();
        if (dialog == nullptr) return;
        checked = true;
        auto closer = qScopeGuard([dialog] { dialog->reject(); });  // a failed check cannot hang the test
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Odabir"));
        QCOMPARE(dialog->nameFilters(), QStringList{QStringLiteral("Bitmape (*.bmp)")});
        QCOMPARE(dialog->fileMode(), QFileDialog::AnyFile);  // no check that the file exists
        QVERIFY(dialog->testOption(QFileDialog::DontConfirmOverwrite));
        QCOMPARE(dialog->defaultSuffix(), QString());
        QCOMPARE(dialog->acceptMode(), mode == FileDialogMode::Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        QCOMPARE(dialog->selectedFiles().value(0), start);
        if (accept) {
            closer.dismiss();
            QMetaObject::invokeMethod(dialog, "accept");
        }
    });
    const std::optional<QString> chosen = QtUiServices().chooseFile(
        nullptr, FileDialogRequest{mode, QStringLiteral("Odabir"), QStringLiteral("Bitmape (*.bmp)"), start});
    QVERIFY(checked);
    QCOMPARE(chosen, accept ? std::optional<QString>(start) : std::nullopt);  // taken as typed
}

void TestGuiUnits::realMessageBox_data()
{
    QTest::addColumn<MessageIcon>("icon");
    QTest::addColumn<int>("qtIcon");
    QTest::newRow("information") << MessageIcon::Information << int(QMessageBox::Information);
    QTest::newRow("warning") << MessageIcon::Warning << int(QMessageBox::Warning);
    QTest::newRow("critical") << MessageIcon::Critical << int(QMessageBox::Critical);
}

void TestGuiUnits::realMessageBox()
{
    QFETCH(MessageIcon, icon);
    QFETCH(int, qtIcon);
    bool checked = false;
    QTimer::singleShot(0, [&] {
        QMessageBox* box = shownTopLevel<QMessageBox>();
        if (box == nullptr) return;
        checked = true;
        auto closer = qScopeGuard([box] { box->buttons().front()->click(); });
        QCOMPARE(box->windowTitle(), QStringLiteral("Vazna obavijest"));
        QCOMPARE(box->text(), QStringLiteral(" 24-bit bitmaps only"));
        QCOMPARE(int(box->icon()), qtIcon);
        QCOMPARE(box->buttons().size(), 1);
        QCOMPARE(box->standardButton(box->buttons().front()), QMessageBox::Ok);
    });
    QtUiServices().message(nullptr, QStringLiteral(" 24-bit bitmaps only"), icon, QStringLiteral("Vazna obavijest"));
    QVERIFY(checked);
}

void TestGuiUnits::captionsFit_data()
{
    QTest::addColumn<int>("form");
    QTest::newRow("frmGen") << 0;
    QTest::newRow("frmTest") << 1;
    QTest::newRow("frmDialog") << 2;
}

// Every caption fits its control at the designed twips size in the forms' font.
void TestGuiUnits::captionsFit()
{
    QFETCH(int, form);
    FakeUi ui;
    CommonDialog cdlDat(ui);
    std::unique_ptr<QWidget> widget;
    if (form == 0) widget = std::make_unique<FrmGen>(cdlDat, ui);
    if (form == 1) widget = std::make_unique<FrmTest>(cdlDat, ui);
    if (form == 2) widget = std::make_unique<FrmDialog>();
    for (const QLabel* label : widget->findChildren<QLabel*>()) {
        const QFontMetrics metrics(label->font());
        const QStringList lines = label->text().split(QLatin1Char('\n'));
        for (const QString& line : lines)
            QVERIFY2(metrics.horizontalAdvance(line) <= label->width(), qPrintable(line));
        QVERIFY2(lines.size() * metrics.lineSpacing() <= label->height(), qPrintable(label->objectName()));
    }
    for (const QPushButton* button : widget->findChildren<QPushButton*>()) {
        const QFontMetrics metrics(button->font());
        const QString caption = QString(button->text()).remove(QLatin1Char('&'));
        QVERIFY2(metrics.horizontalAdvance(caption) + 8 <= button->width(), qPrintable(button->objectName()));
        QVERIFY2(metrics.height() + 6 <= button->height(), qPrintable(button->objectName()));
    }
    for (const QLineEdit* box : widget->findChildren<QLineEdit*>())
        QVERIFY2(QFontMetrics(box->font()).height() + 2 <= box->height(), qPrintable(box->objectName()));
}

QTEST_MAIN(TestGuiUnits)
#include "test_units.moc"
