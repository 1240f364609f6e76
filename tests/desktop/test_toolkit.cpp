// The small pieces under the windows: twips, file filters, numbers in the user's
// notation, failure texts, the picture area, and the real message boxes and file dialogs
// (checked once; every other test uses the scripted stand-in).
#include "base/error.h"
#include "desktop/app/frm_dialog.h"
#include "desktop/toolkit/common_dialog.h"
#include "desktop/toolkit/failure_text.h"
#include "desktop/toolkit/numbers.h"
#include "desktop/toolkit/picture_area.h"
#include "desktop/toolkit/twips.h"
#include "desktop/windows/frm_gen.h"
#include "desktop/windows/frm_test.h"
#include "image/image_io.h"
#include "tests/desktop/gui_support.h"

#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>

using namespace pelinor;
using namespace pelinor::guitest;
using namespace Qt::StringLiterals;
using OptDouble = std::optional<double>;
using OptInt = std::optional<std::int32_t>;
Q_DECLARE_METATYPE(OptDouble)
Q_DECLARE_METATYPE(OptInt)
Q_DECLARE_METATYPE(pelinor::FileDialogMode)

class TestToolkit : public QObject, public GuiFixture {
    Q_OBJECT

private slots:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    // Twips to pixels at common logical DPIs: rounded, not cut (733.5 is 734, 1.5 is 2).
    void twipsAtDpi_data()
    {
        QTest::addColumn<double>("dpi");
        QTest::addColumn<double>("twips");
        QTest::addColumn<int>("pixels");
        QTest::newRow("96: 7335") << 96.0 << 7335.0 << 489;
        QTest::newRow("96: 22 is 1.47") << 96.0 << 22.0 << 1;
        QTest::newRow("96: 23 is 1.53") << 96.0 << 23.0 << 2;
        QTest::newRow("120: 7335 is 611.25") << 120.0 << 7335.0 << 611;
        QTest::newRow("120: 18 is 1.5") << 120.0 << 18.0 << 2;
        QTest::newRow("120: 3735 is 311.25") << 120.0 << 3735.0 << 311;
        QTest::newRow("120: 1695 is 141.25") << 120.0 << 1695.0 << 141;
        QTest::newRow("120: 375 is 31.25") << 120.0 << 375.0 << 31;
        QTest::newRow("120: 10 is 0.83") << 120.0 << 10.0 << 1;
        QTest::newRow("144: 7335 is 733.5") << 144.0 << 7335.0 << 734;
        QTest::newRow("144: 5295 is 529.5") << 144.0 << 5295.0 << 530;
        QTest::newRow("144: 315 is 31.5") << 144.0 << 315.0 << 32;
        QTest::newRow("144: 1215 is 121.5") << 144.0 << 1215.0 << 122;
        QTest::newRow("144: 7 is 0.7") << 144.0 << 7.0 << 1;
        QTest::newRow("144: -15 is -1.5") << 144.0 << -15.0 << -2;
    }

    void twipsAtDpi()
    {
        QFETCH(double, dpi);
        QFETCH(double, twips);
        QFETCH(int, pixels);
        QCOMPARE(twipsToPixels(twips, dpi), pixels);
        QCOMPARE(pixelsToTwips(pixels, dpi), pixels * 1440.0 / dpi);
    }

    void qtFilter_data()
    {
        QTest::addColumn<QString>("classic");
        QTest::addColumn<QString>("qt");
        QTest::newRow("description without pattern") << "Slike|*.bmp;*.png"
                                                     << "Slike (*.bmp *.png)";
        QTest::newRow("two entries") << "Bitmape (*.bmp)|*.bmp|Sve (*.*)|*.*"
                                     << "Bitmape (*.bmp);;Sve (*.*)";
        QTest::newRow("pattern field wins") << "Bitmape (*.bmp)|*.bmp;*.dib"
                                            << "Bitmape (*.bmp *.dib)";
    }

    void qtFilter()
    {
        QFETCH(QString, classic);
        QFETCH(QString, qt);
        QCOMPARE(toQtFilter(classic), qt);
    }

    void numbers_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<OptDouble>("number");
        QTest::addColumn<OptInt>("length"); // rounded half to even
        QTest::addColumn<QString>("shown"); // the number shown back
        QTest::newRow("C period") << "C"
                                  << "0.3" << OptDouble(0.3) << OptInt(0) << "0.3";
        QTest::newRow("blanks, half to even") << "C"
                                              << " -2.5 " << OptDouble(-2.5) << OptInt(-2) << "-2.5";
        QTest::newRow("C comma is not a decimal") << "C"
                                                  << "0,3" << OptDouble() << OptInt() << "";
        QTest::newRow("hr comma") << "hr_HR"
                                  << "7,6" << OptDouble(7.6) << OptInt(8) << "7,6";
        QTest::newRow("hr ascii minus") << "hr_HR"
                                        << "-0,25" << OptDouble(-0.25) << OptInt(0) << "-0,25";
        QTest::newRow("hr period is not a decimal") << "hr_HR"
                                                    << "0.3" << OptDouble() << OptInt() << "";
        QTest::newRow("hr 15 significant digits")
            << "hr_HR"
            << "0,123456789012345678" << OptDouble(0.123456789012345678) << OptInt(0) << "0,123456789012346";
        QTest::newRow("hr tiny") << "hr_HR"
                                 << "1,5e-7" << OptDouble(1.5e-7) << OptInt(0) << "1,5E-07";
        QTest::newRow("no group separators")
            << "en_US"
            << "1234567.5" << OptDouble(1234567.5) << OptInt(1234568) << "1234567.5";
        QTest::newRow("letters") << "C"
                                 << "sto" << OptDouble() << OptInt() << "";
        QTest::newRow("overflow") << "C"
                                  << "1e400" << OptDouble() << OptInt() << "";
        QTest::newRow("largest length")
            << "C"
            << "2147483647" << OptDouble(2147483647.0) << OptInt(2147483647) << "2147483647";
        QTest::newRow("too large") << "C"
                                   << "2147483648" << OptDouble(2147483648.0) << OptInt() << "2147483648";
        QTest::newRow("smallest") << "C"
                                  << "-2147483648" << OptDouble(-2147483648.0) << OptInt(-2147483647 - 1)
                                  << "-2147483648";
    }

    void numbers()
    {
        QFETCH(QString, locale);
        QFETCH(QString, typed);
        QFETCH(OptDouble, number);
        QFETCH(OptInt, length);
        QFETCH(QString, shown);
        QCOMPARE(parseLocaleDouble(typed, QLocale(locale)), number);
        QCOMPARE(parseLocaleInt32(typed, QLocale(locale)), length);
        if (number) QCOMPARE(formatForDisplay(*number, QLocale(locale)), shown);
    }

    void failureFallbacks()
    {
        // Numbers the core does not use and exceptions from outside it still get a
        // Croatian text, never the English one.
        QCOMPARE(failureReason(Error(4242, "Something odd")), u"neočekivana pogreška"_s);
        // The pixel budget's refusal names the size and the limit in Croatian; the number
        // decides, not the text.
        const std::string budget
            = "Out of memory: a 18900 x 18900 picture (357.2 megapixels) is over the limit "
              "of 150 megapixels";
        QCOMPARE(failureReason(Error(err::PixelBudget, budget)),
            u"slika od 18900 x 18900 piksela (357,2 megapiksela) veća je od granice od 150 megapiksela"_s);
        QCOMPARE(failureReason(Error(err::PixelBudget, "Out of memory: over the limit")),
            u"slika je veća od granice broja piksela"_s);
        QCOMPARE(failureReason(Error(err::OutOfMemory, budget)), u"nema dovoljno memorije"_s);
        QCOMPARE(failureReason(Error(err::OutOfMemory, "Out of memory")), u"nema dovoljno memorije"_s);
        QCOMPARE(failureReason(Error(err::OutOfMemory, "File too large: \"/x\" has more than 9 bytes")),
            u"datoteka je prevelika"_s);
        try {
            throw std::runtime_error("plain");
        } catch (...) {
            QCOMPARE(failureMessage(u"Ne ide."_s, QString(), currentError()),
                u"Ne ide.\n\nRazlog: neočekivana pogreška (pogreška 0)."_s);
        }
        QCOMPARE(
            failureMessage(u"Ne ide."_s, u"Slika"_s, u"Označena slika"_s, Error(err::DiskFull, "Disk full")),
            u"Ne ide.\n\nSlika: Označena slika\nRazlog: disk je pun (pogreška 61)."_s);
    }

    // Every error number the core declares has a Croatian reason, so no message of the
    // program falls back to a generic text or to English.
    void everyErrorNumberHasACroatianReason()
    {
        QFile header(QStringLiteral(PELINOR_SOURCE_DIR "/base/error.h"));
        QVERIFY(header.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(header.readAll());
        static const QRegularExpression declared(uR"(inline constexpr int (\w+) = (\d+);)"_s);
        int numbers = 0;
        for (const QRegularExpressionMatch& m : declared.globalMatch(text)) {
            ++numbers;
            const std::optional<QString> reason = croatianReason(m.captured(2).toInt());
            QVERIFY2(reason.has_value() && !reason->isEmpty(), qPrintable(m.captured(1)));
        }
        QVERIFY2(numbers >= 21, "the error numbers were not found in base/error.h");
        QVERIFY(!croatianReason(0).has_value());
    }

    void displayReadsStoredRows()
    {
        // 3 x 2 pixels with 3 padding bytes a row; each pixel's colour comes from its
        // visual place, so a flipped or shifted row shows up.
        for (const bool topDown : {false, true}) {
            const PictureRef picture = Picture::create(3, 2, 24, topDown);
            for (int y = 0; y < 2; ++y)
                for (int x = 0; x < 3; ++x) {
                    std::uint8_t* bgr = picture->bits() + 3 * x;
                    bgr += std::size_t(picture->storedRow(y)) * picture->stride();
                    bgr[0] = std::uint8_t(10 + x);
                    bgr[1] = std::uint8_t(100 + y);
                    bgr[2] = 200;
                }
            const QImage image = toQImage(*picture);
            QCOMPARE(image.size(), QSize(3, 2));
            for (int y = 0; y < 2; ++y)
                for (int x = 0; x < 3; ++x)
                    QCOMPARE(image.pixel(x, y), qRgb(200, 100 + y, 10 + x));
            PictureArea area;
            area.setPicture(picture);
            QCOMPARE(area.size(), QSize(3, 2)); // one pixel per pixel
            const QImage painted = area.grab().toImage().convertToFormat(QImage::Format_RGB32);
            QCOMPARE(painted.pixel(2, 1), qRgb(200, 101, 12));
        }
    }

    void realFileDialog_data()
    {
        QTest::addColumn<FileDialogMode>("mode");
        QTest::addColumn<bool>("accept");
        QTest::newRow("open, cancelled") << FileDialogMode::Open << false;
        QTest::newRow("save, accepted") << FileDialogMode::Save << true;
    }

    void realFileDialog()
    {
        QFETCH(FileDialogMode, mode);
        QFETCH(bool, accept);
        const QString start = QDir::temp().filePath(u"pelinor-nema-takve-datoteke.bmp"_s);
        bool checked = false;
        QTimer::singleShot(0, [&] {
            QFileDialog* dialog = shownTopLevel<QFileDialog>();
            if (dialog == nullptr) return;
            checked = true;
            auto closer = qScopeGuard([dialog] { dialog->reject(); }); // a failed check cannot hang the test
            QCOMPARE(dialog->windowTitle(), u"Odabir"_s);
            QCOMPARE(dialog->nameFilters(), QStringList{u"Bitmape (*.bmp)"_s});
            QCOMPARE(dialog->fileMode(), QFileDialog::AnyFile); // no check that the file exists
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
        const FileDialogRequest request{mode, u"Odabir"_s, u"Bitmape (*.bmp)"_s, start};
        const std::optional<QString> chosen = QtUiServices().chooseFile(nullptr, request);
        QVERIFY(checked);
        QCOMPARE(chosen, accept ? std::optional<QString>(start) : std::nullopt); // taken as typed
    }

    void realMessageBox()
    {
        const std::pair<MessageIcon, QMessageBox::Icon> icons[]
            = {{MessageIcon::Information, QMessageBox::Information},
                {MessageIcon::Warning, QMessageBox::Warning}, {MessageIcon::Critical, QMessageBox::Critical}};
        for (const auto& [icon, qtIcon] : icons) {
            bool checked = false;
            QTimer::singleShot(0, [&, qtIcon = qtIcon] {
                QMessageBox* box = shownTopLevel<QMessageBox>();
                if (box == nullptr) return;
                checked = true;
                auto closer = qScopeGuard([box] { box->buttons().front()->click(); });
                QCOMPARE(box->windowTitle(), u"Vazna obavijest"_s);
                QCOMPARE(box->text(), u"Tekst"_s);
                QCOMPARE(box->icon(), qtIcon);
                QCOMPARE(box->buttons().size(), 1);
                QCOMPARE(box->standardButton(box->buttons().front()), QMessageBox::Ok);
            });
            QtUiServices().message(nullptr, u"Tekst"_s, icon, u"Vazna obavijest"_s);
            QVERIFY(checked);
        }
    }

    // The real question: Yes and No, No the default, so Enter and Escape both keep the file.
    void realQuestionBox_data()
    {
        QTest::addColumn<int>("key"); // 0: click Yes
        QTest::addColumn<bool>("yes");
        QTest::newRow("Enter") << int(Qt::Key_Return) << false;
        QTest::newRow("Escape") << int(Qt::Key_Escape) << false;
        QTest::newRow("Yes clicked") << 0 << true;
    }

    void realQuestionBox()
    {
        QFETCH(int, key);
        QFETCH(bool, yes);
        bool checked = false;
        QTimer::singleShot(0, [&] {
            QMessageBox* box = shownTopLevel<QMessageBox>();
            if (box == nullptr) return;
            checked = true;
            auto closer = qScopeGuard([box] {
                if (box->isVisible()) box->button(QMessageBox::No)->click();
            });
            QCOMPARE(box->windowTitle(), u"Pelinor"_s);
            QCOMPARE(box->text(), u"Pitanje?"_s);
            QCOMPARE(box->icon(), QMessageBox::Question);
            QCOMPARE(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
            QCOMPARE(box->defaultButton(), box->button(QMessageBox::No));
            if (key == 0)
                box->button(QMessageBox::Yes)->click();
            else
                QTest::keyClick(box, Qt::Key(key));
        });
        QCOMPARE(QtUiServices().ask(nullptr, u"Pitanje?"_s, u"Pelinor"_s), yes);
        QVERIFY(checked);
    }

    // Every caption fits its control at the designed twips size in the forms' font.
    void captionsFit()
    {
        CommonDialog cdlDat(*m_ui);
        FrmGen gen(cdlDat, *m_ui);
        FrmTest test(cdlDat, *m_ui);
        FrmDialog about;
        for (const QWidget* form : std::initializer_list<const QWidget*>{&gen, &test, &about}) {
            for (const QLabel* label : form->findChildren<QLabel*>()) {
                const QFontMetrics metrics(label->font());
                const QStringList lines = label->text().split(u'\n');
                for (const QString& line : lines)
                    QVERIFY2(metrics.horizontalAdvance(line) <= label->width(), qPrintable(line));
                QVERIFY2(
                    lines.size() * metrics.lineSpacing() <= label->height(), qPrintable(label->objectName()));
            }
            for (const QPushButton* button : form->findChildren<QPushButton*>()) {
                const QFontMetrics metrics(button->font());
                const int width = metrics.horizontalAdvance(QString(button->text()).remove(u'&'));
                QVERIFY2(width + 8 <= button->width(), qPrintable(button->objectName()));
                QVERIFY2(metrics.height() + 6 <= button->height(), qPrintable(button->objectName()));
            }
            for (const QLineEdit* box : form->findChildren<QLineEdit*>())
                QVERIFY2(
                    QFontMetrics(box->font()).height() + 2 <= box->height(), qPrintable(box->objectName()));
        }
    }
};

QTEST_MAIN(TestToolkit)
#include "test_toolkit.moc"
