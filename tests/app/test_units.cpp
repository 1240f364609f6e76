// The small pieces under the windows: twips, the layout rule, the filter
// conversion, numbers in the user's locale, failure texts and the hourglass guard.
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include "app/common_dialog.h"
#include "app/failure_text.h"
#include "app/numbers.h"
#include "app/picture_area.h"
#include "app/twips.h"
#include "fake_ui.h"
#include "image/frm_slika.h"
#include "obrada/error.h"

using namespace pelinor;
using pelinor::test::FakeUi;
using pelinor::test::Recorded;

Q_DECLARE_METATYPE(std::optional<double>)
Q_DECLARE_METATYPE(std::optional<std::int32_t>)
Q_DECLARE_METATYPE(pelinor::FileDialogMode)
Q_DECLARE_METATYPE(pelinor::MessageIcon)

class TestGuiUnits : public QObject {
    Q_OBJECT
private slots:
    void twipsAt96Dpi();
    void layoutRule_data();
    void layoutRule();
    void qtFilter_data();
    void qtFilter();
    void parseDouble_data();
    void parseDouble();
    void parseLength_data();
    void parseLength();
    void display_data();
    void display();
    void failureTexts();
    void waitCursorRestoresOnEveryPath();
    void commonDialogKeepsLastPath();
    void displayReadsStoredRows_data();
    void displayReadsStoredRows();
    void realFileDialogSettings_data();
    void realFileDialogSettings();
    void realMessageBox_data();
    void realMessageBox();
};

namespace {

// The first visible top-level widget of type T, once the event loop runs.
template <class T>
T* shownTopLevel()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* found = qobject_cast<T*>(widget); found != nullptr && found->isVisible()) return found;
    return nullptr;
}

}  // namespace

void TestGuiUnits::twipsAt96Dpi()
{
    QWidget widget;
    QCOMPARE(widget.logicalDpiX(), 96);  // the offscreen screen
    QCOMPARE(twipsPerPixelX(&widget), 15.0);
    QCOMPARE(twipsToPixelsX(10110, &widget), 674);
    QCOMPARE(twipsToPixelsY(6405, &widget), 427);
    QCOMPARE(twipsRect(240, 480, 3615, 315, &widget), QRect(16, 32, 241, 21));
    QCOMPARE(pixelsToTwipsX(3, &widget), 45.0);
}

void TestGuiUnits::layoutRule_data()
{
    QTest::addColumn<double>("outer");
    QTest::addColumn<double>("area");
    QTest::addColumn<int>("offset");
    QTest::newRow("equal width gives 0") << 7335.0 << 7335.0 << 0;
    QTest::newRow("3 twips narrower gives -1") << 7332.0 << 7335.0 << -1;
    QTest::newRow("3 twips wider gives 1") << 7338.0 << 7335.0 << 1;
    QTest::newRow("even difference") << 9000.0 << 7000.0 << 1000;
    QTest::newRow("half rounds to even (down)") << 1002.5 << 1000.0 << 1;   // 2.5 -> 2 -> 1
    QTest::newRow("half rounds to even (up)") << 1003.5 << 1000.0 << 2;     // 3.5 -> 4 -> 2
    QTest::newRow("negative half to even") << 1000.0 << 1002.5 << -1;       // -2.5 -> -2 -> -1
    QTest::newRow("negative odd truncates") << 1000.0 << 1005.0 << -2;      // -5 \ 2 = -2
    QTest::newRow("much larger picture") << 3000.0 << 15001.0 << -6000;     // -12001 \ 2 = -6000
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
    QTest::newRow("bitmaps") << "Bitmape (*.bmp)|*.bmp" << "Bitmape (*.bmp)";
    QTest::newRow("watermarks") << "Žigovi (*.wmk)|*.wmk" << "Žigovi (*.wmk)";
    QTest::newRow("description without pattern") << "Slike|*.bmp;*.png" << "Slike (*.bmp *.png)";
    QTest::newRow("two entries") << "Bitmape (*.bmp)|*.bmp|Sve (*.*)|*.*" << "Bitmape (*.bmp);;Sve (*.*)";
    QTest::newRow("the pattern field replaces the one in the description")
        << "Bitmape (*.bmp)|*.bmp;*.dib" << "Bitmape (*.bmp *.dib)";
}

void TestGuiUnits::qtFilter()
{
    QFETCH(QString, classic);
    QFETCH(QString, qt);
    QCOMPARE(toQtFilter(classic), qt);
}

void TestGuiUnits::parseDouble_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("text");
    QTest::addColumn<std::optional<double>>("value");
    QTest::newRow("C period") << "C" << "0.3" << std::optional<double>(0.3);
    QTest::newRow("C blanks around") << "C" << "  -1.5 " << std::optional<double>(-1.5);
    QTest::newRow("C exponent") << "C" << "1e3" << std::optional<double>(1000.0);
    QTest::newRow("C letters") << "C" << "abc" << std::optional<double>();
    QTest::newRow("C empty") << "C" << "" << std::optional<double>();
    QTest::newRow("C comma is not a decimal") << "C" << "0,3" << std::optional<double>();
    QTest::newRow("hr comma") << "hr_HR" << "0,3" << std::optional<double>(0.3);
    QTest::newRow("hr negative") << "hr_HR" << "-2,25" << std::optional<double>(-2.25);
    QTest::newRow("hr period is not a decimal") << "hr_HR" << "0.3" << std::optional<double>();
    QTest::newRow("overflow") << "C" << "1e400" << std::optional<double>();
}

void TestGuiUnits::parseDouble()
{
    QFETCH(QString, locale);
    QFETCH(QString, text);
    QFETCH(std::optional<double>, value);
    QCOMPARE(parseLocaleDouble(text, QLocale(locale)), value);
}

void TestGuiUnits::parseLength_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("text");
    QTest::addColumn<std::optional<std::int32_t>>("value");
    using L = std::optional<std::int32_t>;
    QTest::newRow("whole") << "C" << "100" << L(100);
    QTest::newRow("half down to even") << "C" << "2.5" << L(2);
    QTest::newRow("half up to even") << "C" << "3.5" << L(4);
    QTest::newRow("negative half") << "C" << "-2.5" << L(-2);
    QTest::newRow("fraction") << "hr_HR" << "7,6" << L(8);
    QTest::newRow("largest") << "C" << "2147483647" << L(2147483647);
    QTest::newRow("too large") << "C" << "2147483648" << L();
    QTest::newRow("smallest") << "C" << "-2147483648" << L(-2147483647 - 1);
    QTest::newRow("letters") << "C" << "sto" << L();
}

void TestGuiUnits::parseLength()
{
    QFETCH(QString, locale);
    QFETCH(QString, text);
    QFETCH(std::optional<std::int32_t>, value);
    QCOMPARE(parseLocaleInt32(text, QLocale(locale)), value);
}

void TestGuiUnits::display_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("C") << "C" << 0.5 << "0.5";
    QTest::newRow("hr comma") << "hr_HR" << 0.5 << "0,5";
    QTest::newRow("15 significant digits") << "hr_HR" << 0.123456789012345678 << "0,123456789012346";
    QTest::newRow("negative with ascii minus") << "hr_HR" << -0.25 << "-0,25";
    QTest::newRow("no group separators") << "en_US" << 1234567.5 << "1234567.5";
    QTest::newRow("tiny in exponent form") << "hr_HR" << 1.5e-7 << "1,5E-07";
    QTest::newRow("zero") << "hr_HR" << 0.0 << "0";
    QTest::newRow("one") << "C" << 1.0 << "1";
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
    QCOMPARE(ui.ofKind(Recorded::WaitOn).size(), std::size_t(2));
    QCOMPARE(ui.ofKind(Recorded::WaitOff).size(), std::size_t(2));
}

void TestGuiUnits::commonDialogKeepsLastPath()
{
    FakeUi ui;
    CommonDialog dialog(ui);
    dialog.setTitle(QStringLiteral("Pelinor"));
    dialog.setFilter(QStringLiteral("Bitmape (*.bmp)|*.bmp"));
    ui.answer(QStringLiteral("/tmp/a.bmp"));
    ui.cancel();
    ui.answer(QStringLiteral("/tmp/b.wmk"));
    QCOMPARE(dialog.showOpen(nullptr), std::optional<QString>(QStringLiteral("/tmp/a.bmp")));
    QCOMPARE(dialog.showSave(nullptr), std::optional<QString>());  // cancelled: the path stays
    QCOMPARE(dialog.fileName(), QStringLiteral("/tmp/a.bmp"));
    QVERIFY(dialog.showOpen(nullptr).has_value());
    const auto requests = ui.dialogs();
    QCOMPARE(requests.size(), std::size_t(3));
    QCOMPARE(requests[0].request.startPath, QString());
    QCOMPARE(requests[1].request.startPath, QStringLiteral("/tmp/a.bmp"));
    QCOMPARE(requests[1].request.mode, FileDialogMode::Save);
    QCOMPARE(requests[2].request.startPath, QStringLiteral("/tmp/a.bmp"));
    QCOMPARE(requests[0].request.filter, QStringLiteral("Bitmape (*.bmp)"));
    QCOMPARE(requests[0].request.title, QStringLiteral("Pelinor"));
    QCOMPARE(dialog.fileName(), QStringLiteral("/tmp/b.wmk"));
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
    // 3 x 2 pixels: stride 12 bytes, 3 of them padding. Each pixel's blue, green and
    // red come from its visual place, so a flipped or shifted row shows up.
    const PictureRef picture = Picture::create(3, 2, 24, topDown);
    QCOMPARE(picture->stride(), std::size_t(12));
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
    QCOMPARE(area.size(), QSize(3, 2));  // natural size, one pixel per pixel
    QCOMPARE(area.grab().toImage().convertToFormat(QImage::Format_RGB32).pixel(2, 1), qRgb(200, 101, 12));
}

void TestGuiUnits::realFileDialogSettings_data()
{
    QTest::addColumn<FileDialogMode>("mode");
    QTest::addColumn<bool>("accept");
    QTest::newRow("open, cancelled") << FileDialogMode::Open << false;
    QTest::newRow("save, accepted") << FileDialogMode::Save << true;
}

void TestGuiUnits::realFileDialogSettings()
{
    QFETCH(FileDialogMode, mode);
    QFETCH(bool, accept);
    const QString start = QDir::temp().filePath(QStringLiteral("pelinor-nema-takve-datoteke.bmp"));
    bool checked = false;
    QTimer::singleShot(0, [&] {
        QFileDialog* dialog = shownTopLevel<QFileDialog>();
        if (dialog == nullptr) return;
        checked = true;
        // Closes the dialog even when a check below fails, so the test cannot hang.
        auto closer = qScopeGuard([dialog] { dialog->reject(); });
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Odabir"));
        QCOMPARE(dialog->nameFilters(), QStringList{QStringLiteral("Bitmape (*.bmp)")});
        QCOMPARE(dialog->fileMode(), QFileDialog::AnyFile);  // no check that the file exists
        QVERIFY(dialog->testOption(QFileDialog::DontConfirmOverwrite));
        QCOMPARE(dialog->defaultSuffix(), QString());
        QCOMPARE(dialog->acceptMode(),
                 mode == FileDialogMode::Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        QCOMPARE(dialog->selectedFiles().value(0), start);
        if (accept) {
            closer.dismiss();
            QMetaObject::invokeMethod(dialog, "accept");
        }
    });
    QtUiServices ui;
    const std::optional<QString> chosen =
        ui.chooseFile(nullptr, FileDialogRequest{mode, QStringLiteral("Odabir"), QStringLiteral("Bitmape (*.bmp)"),
                                                 start});
    QVERIFY(checked);
    QCOMPARE(chosen.has_value(), accept);
    if (accept) QCOMPARE(*chosen, start);  // a file that does not exist is accepted as typed
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

QTEST_MAIN(TestGuiUnits)
#include "test_units.moc"
