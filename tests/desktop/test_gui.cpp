// The desktop program's tests: the small pieces under the windows, then every flow
// end to end through the main window's commands on real files. A scripted fake
// stands in for the message boxes and file dialogs; the real ones are checked once.
#include "base/error.h"
#include "desktop/app/frm_dialog.h"
#include "desktop/app/frm_pocetak.h"
#include "desktop/toolkit/common_dialog.h"
#include "desktop/toolkit/failure_text.h"
#include "desktop/toolkit/numbers.h"
#include "desktop/toolkit/picture_area.h"
#include "desktop/toolkit/twips.h"
#include "desktop/toolkit/ui_services.h"
#include "desktop/windows/frm_gen.h"
#include "desktop/windows/frm_slika.h"
#include "desktop/windows/frm_test.h"
#include "image/codecs/codecs.h"
#include "image/image_io.h"
#include "watermark/embed.h"
#include "watermark/generator.h"
#include "watermark/strength.h"
#include "watermark/watermark_file.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <sys/stat.h>

using namespace pelinor;
using namespace Qt::StringLiterals;
using OptDouble = std::optional<double>;
using OptInt = std::optional<std::int32_t>;
Q_DECLARE_METATYPE(OptDouble)
Q_DECLARE_METATYPE(OptInt)
Q_DECLARE_METATYPE(pelinor::FileDialogMode)

namespace {

const QString kSep = u" ¦ "_s;
const QString kOnly24 = u"C|Pelinor| 24-bit bitmaps only"_s;
// The main window's open and save filter: the bitmaps, then every supported format.
const QString kPictures
    = u"Bitmape (*.bmp);;Sve podržane slike (*.bmp *.png *.jpg *.jpeg *.tif *.tiff *.webp)"_s;
const QString kGenWarning = u"W|Pelinor|Nepravilno zadane vrijednosti parametara za generiranje žiga"_s;
const QString kGenDone = u"I|Pelinor|Generiranje žiga je uspješno obavljeno."_s;
const QString kCtrlAltDel = u"Rad programa se u trenutnoj verziji može prekinuti samo s CTRL-ALT-DEL. :)"_s;
const QString kRatio = u"I|Pelinor|Odnos sličnosti između originalnog i izvađenog žiga je "_s;
const QString kPalette = QStringLiteral(PELINOR_TESTDATA "/bmpsuite/g/pal8.bmp");

// The question before a save replaces a file that is not a picture.
QString replaceQuestion(const QString& path)
{
    return u"Q|Pelinor|Datoteka "_s + path + u" već postoji i nije slika.\nŽelite li je zamijeniti slikom?"_s;
}

// A scripted stand-in for the user. It logs what the user meets as text: "I|title|text"
// for a message (W and C for the other icons, "|busy" under the hourglass), "Q|title|text"
// for a question, which it answers from a queue (an empty queue takes the default, No),
// "wait" and "done" for the hourglass, "open|title|filter|start" for a file dialog, which
// it answers from a queue (an empty queue cancels).
class FakeUi final : public UiServices {
public:
    void message(QWidget*, const QString& text, MessageIcon icon, const QString& title) override
    {
        log << QStringList{u"IWC"_s.mid(int(icon), 1), title, text}.join(u'|')
                + (m_depth > 0 ? u"|busy"_s : QString());
    }
    bool ask(QWidget*, const QString& text, const QString& title) override
    {
        log << QStringList{u"Q"_s, title, text}.join(u'|');
        return !replies.isEmpty() && replies.takeFirst();
    }
    std::optional<QString> chooseFile(QWidget*, const FileDialogRequest& request) override
    {
        log << QStringList{request.mode == FileDialogMode::Open ? u"open"_s : u"save"_s, request.title,
            request.filter, request.startPath}
                   .join(u'|');
        return answers.isEmpty() ? std::nullopt : answers.takeFirst();
    }
    void beginWait() override
    {
        ++m_depth;
        log << u"wait"_s;
    }
    void endWait() override
    {
        --m_depth;
        log << u"done"_s;
    }
    QLocale numberLocale() const override { return locale; }
    void answer(const QString& path) { answers << path; }
    void cancel() { answers << std::nullopt; }
    // The log in one line; the file dialogs only when asked for.
    QString text(bool dialogs = false) const
    {
        QStringList shown;
        for (const QString& entry : log)
            if (dialogs || !(entry.startsWith(u"open|") || entry.startsWith(u"save|"))) shown << entry;
        return shown.join(kSep);
    }

    QStringList log;
    QList<std::optional<QString>> answers;
    QList<bool> replies;
    QLocale locale = QLocale::c();

private:
    int m_depth = 0;
};

// A 24-bit picture with texture everywhere, so its DCT coefficients are distinct.
PictureRef texturedPicture(int width, int height, unsigned seed)
{
    PictureRef picture = Picture::create(width, height);
    unsigned state = seed * 2654435761u + 12345u;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < 3 * width; ++x) {
            state = state * 1664525u + 1013904223u;
            const int base = (x * 160) / (3 * width) + (y * 60) / height + (x % 3) * 10;
            picture->bits()[std::size_t(y) * picture->stride() + std::size_t(x)]
                = std::uint8_t(std::min(255, base + int(state >> 26)));
        }
    return picture;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QStringList readLines(const QString& path) // split at CRLF, without the final empty piece
{
    QStringList lines = QString::fromLatin1(readAll(path)).split(u"\r\n"_s);
    if (!lines.isEmpty() && lines.back().isEmpty()) lines.pop_back();
    return lines;
}

std::vector<std::uint8_t> pixelsOf(const PictureRef& picture)
{
    return std::vector<std::uint8_t>(picture->bits(), picture->bits() + picture->byteCount());
}

// The menu tree as one line: "&Datoteka[&Otvori,&Spremi,-,I&zlaz],...".
QString menuText(const QList<QAction*>& actions)
{
    QStringList parts;
    for (const QAction* action : actions)
        parts << (action->isSeparator() ? u"-"_s : action->text())
                + (action->menu() ? u"["_s + menuText(action->menu()->actions()) + u"]"_s : QString());
    return parts.join(u',');
}

// The first visible top-level widget of type T.
template <class T> T* shownTopLevel()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* found = qobject_cast<T*>(widget); found != nullptr && found->isVisible()) return found;
    return nullptr;
}

} // namespace

class TestGui : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeUi> m_ui;
    std::unique_ptr<MDIPocetak> m_window;

    // Answers the command's file dialog with `path` (with `active` the active
    // window); the image window it made, or nullptr.
    FrmSlika* run(QAction* command, const QString& path, FrmSlika* active = nullptr)
    {
        if (active != nullptr) m_window->mdiArea()->setActiveSubWindow(active);
        const qsizetype before = m_window->mdiArea()->subWindowList().size();
        m_ui->answer(path);
        command->trigger();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        const bool made = m_window->mdiArea()->subWindowList().size() == before + 1;
        return made ? m_window->activeImageWindow() : nullptr;
    }

    FrmSlika* open(const QString& path) { return run(m_window->mnuOtvori, path); }

    QString bmp(const QString& name, int width = 48, int height = 40, unsigned seed = 1)
    {
        const QString path = m_dir->filePath(name);
        savePicture(*texturedPicture(width, height, seed), path.toStdString());
        return path;
    }

    QString wmk(const QString& name, int length = 100, double alpha = 0.3)
    {
        const QString path = m_dir->filePath(name);
        CoxGenMark(path.toStdString(), alpha, length, 12345, 0.0, 1.0);
        return path;
    }

    // Runs `command`, which shows a modal Dialog, and `script` on it once it is up.
    // Whatever the script leaves open is closed, so a failing check cannot hang.
    template <class Dialog> void withModal(QAction* command, const std::function<void(Dialog*)>& script)
    {
        bool ran = false;
        QTimer::singleShot(0, m_window.get(), [&] {
            QPointer<Dialog> dialog = m_window->findChild<Dialog*>();
            ran = !dialog.isNull() && dialog->isVisible();
            if (!ran) return;
            script(dialog.data());
            if (!dialog.isNull() && dialog->isVisible()) dialog->done(0);
        });
        command->trigger();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY2(ran, "the dialog was not shown");
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_ui = std::make_unique<FakeUi>();
        m_window = std::make_unique<MDIPocetak>(*m_ui);
        m_window->show();
    }

    void cleanup()
    {
        m_window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_ui.reset();
        m_dir.reset();
    }

    void layoutRule_data()
    {
        QTest::addColumn<double>("outer");
        QTest::addColumn<double>("area");
        QTest::addColumn<int>("offset");
        QTest::newRow("equal width gives 0") << 7335.0 << 7335.0 << 0;
        QTest::newRow("3 twips narrower gives -1") << 7332.0 << 7335.0 << -1;
        QTest::newRow("half rounds to even (down)") << 1002.5 << 1000.0 << 1; // 2.5 -> 2 -> 1
        QTest::newRow("half rounds to even (up)") << 1003.5 << 1000.0 << 2; // 3.5 -> 4 -> 2
        QTest::newRow("negative half to even") << 1000.0 << 1002.5 << -1; // -2.5 -> -2 -> -1
    }

    void layoutRule()
    {
        QFETCH(double, outer);
        QFETCH(double, area);
        QFETCH(int, offset);
        QCOMPARE(layoutOffset(outer, area), offset);
    }

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
        // Numbers without a Croatian reason and exceptions from outside the core
        // still give the user a text.
        QCOMPARE(failureReason(Error(4242, "Something odd")), u"Something odd"_s);
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
        try {
            throw std::runtime_error("plain");
        } catch (...) {
            QCOMPARE(runtimeErrorMessage(currentError()), u"Pogreška 0:\n\nplain"_s);
        }
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

    void startUpAndMenuTree()
    {
        QCOMPARE(m_window->windowTitle(), u"Pelinor"_s);
        QVERIFY(m_window->mdiArea()->subWindowList().isEmpty());
        QVERIFY(m_window->findChild<QDialog*>() == nullptr);
        QCOMPARE(m_window->mdiArea()->size(), QSize(674, 427)); // 10110 x 6405 twips at 96 dpi
        const QPoint offCentre
            = m_window->frameGeometry().center() - m_window->screen()->availableGeometry().center();
        QVERIFY(offCentre.manhattanLength() <= 2);
        QCOMPARE(menuText(m_window->menuBar()->actions()),
            u"&Datoteka[&Otvori,&Spremi,-,I&zlaz],&Pelinor[Co&x et al. algoritam[&Generiranje žiga,"
            u"&Umetanje žiga,&Testiranje žiga]],&O programu"_s);
        // The commands the tests trigger are the ones in the menus.
        for (const QAction* action : {m_window->mnuOtvori, m_window->mnuSpremi, m_window->mnuIzlaz,
                 m_window->mnuGen, m_window->mnuEmbed, m_window->mnuTest, m_window->mnuAbout})
            QVERIFY(!action->associatedObjects().isEmpty());
        QVERIFY(m_ui->log.isEmpty());
    }

    void openTwiceGivesTwoIndependentWindows()
    {
        const QString path = bmp(u"dva puta.bmp"_s);
        FrmSlika* first = open(path);
        FrmSlika* second = open(path);
        QVERIFY(first != nullptr && second != nullptr && first != second);
        QCOMPARE(first->windowTitle(), path);
        QCOMPARE(second->windowTitle(), path);
        QCOMPARE(m_ui->text(), QString());
        // Four distinct picture objects holding the same pixels; only picSlika is shown.
        const PictureRef pictures[4] = {
            first->shownPicture(), first->workingPicture(), second->shownPicture(), second->workingPicture()};
        for (int i = 0; i < 4; ++i) {
            for (int j = i + 1; j < 4; ++j)
                QVERIFY(pictures[i] != pictures[j]);
            QCOMPARE(pixelsOf(pictures[i]), pixelsOf(pictures[0]));
        }
        QCOMPARE(pictures[0]->width(), 48);
        QVERIFY(first->picSlika()->isVisible() && !first->picBuffer()->isVisible());
    }

    void failureIsReported_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("reason");
        QTest::newRow("open: missing file") << "open" << QByteArray() << "datoteka ne postoji (pogreška 53)";
        QTest::newRow("open: not a picture")
            << "open" << QByteArray("ovo nije slika\r\n")
            << "datoteka nije slika koju program može pročitati (pogreška 481)";
        // A 1 KB RLE bitmap declaring 201 megapixels took 4.5 GB to show: over the budget now.
        QFile bomb(
            QStringLiteral(PELINOR_SOURCE_DIR "/tests/regressions/bmp_rle8_604mb_canvas_from_1kb_file.bmp"));
        QVERIFY(bomb.open(QIODevice::ReadOnly));
        QTest::newRow("open: decompression bomb") << "open" << bomb.readAll()
                                                  << "slika od 50331653 x 4 piksela (201,3 megapiksela) veća "
                                                     "je od granice od 150 megapiksela (pogreška 1007)";
        QTest::newRow("open: FIFO") << "open" << QByteArray("fifo")
                                    << "putanji se ne može pristupiti (pogreška 75)";
        QTest::newRow("save: missing folder") << "save" << QByteArray() << "mapa ne postoji (pogreška 76)";
        QTest::newRow("embed: no file") << "embed" << QByteArray() << "datoteka ne postoji (pogreška 53)";
        QTest::newRow("embed: not a number") << "embed" << QByteArray("\"CXSG\"\r\nsto\r\n0.3\r\n0\r\n1\r\n")
                                             << "vrijednost u datoteci nije ispravan broj (pogreška 13)";
        QTest::newRow("embed: too few values")
            << "embed" << QByteArray("\"CXSG\"\r\n3\r\n0.3\r\n0\r\n1\r\n0.5\r\n")
            << "datoteka završava prije svih najavljenih vrijednosti (pogreška 62)";
        QTest::newRow("embed: length zero") << "embed" << QByteArray("\"CXSG\"\r\n0\r\n0.3\r\n0\r\n1\r\n")
                                            << "neispravna duljina ili veličina podataka (pogreška 9)";
    }

    void failureIsReported()
    {
        QFETCH(QString, command);
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        const QString file = m_dir->filePath(command == u"save" ? u"nema mape/slika.bmp"_s : u"los"_s);
        if (content == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0600), 0); // once blocked forever
        else if (!content.isEmpty())
            writeFile(file, content);
        FrmSlika* source = command == u"open" ? nullptr : open(bmp(u"original.bmp"_s));
        m_ui->log.clear();
        QAction* action = command == u"open" ? m_window->mnuOtvori
            : command == u"save"             ? m_window->mnuSpremi
                                             : m_window->mnuEmbed;
        QVERIFY(run(action, file, source) == nullptr);
        QCOMPARE(m_window->mdiArea()->subWindowList().size(), source ? 1 : 0); // no empty "Form1" left
        // A warning naming the file and the reason; no notice and no hourglass.
        const QString what = command == u"open" ? u"Slika se ne može otvoriti."_s
            : command == u"save"                ? u"Slika se ne može spremiti."_s
                                                : u"Žig se ne može umetnuti."_s;
        QCOMPARE(m_ui->text(),
            u"W|Pelinor|"_s + what + u"\n\nDatoteka: "_s + file + u"\nRazlog: "_s + reason + u'.');
        QVERIFY(command != u"save" || !QFile::exists(file));
    }

    // Embedding that cannot give a detectable mark is refused like any other failure, with
    // the real cause in Croatian (an overflow is the watermark's numbers, not the picture).
    void embedRefusalsAreReported_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("reason");
        const QByteArray head("\"CXSG\"\r\n");
        QByteArray manyValues = head + "2000\r\n0.3\r\n0\r\n1\r\n";
        for (int i = 0; i < 2000; ++i)
            manyValues += QByteArray::number(i % 7 - 3) + "\r\n";
        QTest::newRow("alpha 0") << head + "1\r\n0\r\n0\r\n1\r\n0.5\r\n"
                                 << "alfa faktor žiga je 0 (pogreška 1003)";
        QTest::newRow("all values 0") << head + "2\r\n0.3\r\n0\r\n1\r\n0\r\n0\r\n"
                                      << "sve vrijednosti žiga su 0 (pogreška 1004)";
        QTest::newRow("values overflow") << head + "3\r\n0.3\r\n0\r\n1\r\n1E+308\r\n-1E+308\r\n1E+308\r\n"
                                         << "vrijednosti žiga prevelike su za računanje (pogreška 6)";
        QTest::newRow("more values than coefficients")
            << manyValues
            << "slika nema dovoljno koeficijenata različitih od nule za sve vrijednosti žiga (pogreška 1005)";
    }

    void embedRefusalsAreReported()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        const QString file = m_dir->filePath(u"zig.wmk"_s);
        writeFile(file, content);
        FrmSlika* source = open(bmp(u"original.bmp"_s)); // 48 x 40: 1833 candidates
        m_ui->log.clear();
        QVERIFY(run(m_window->mnuEmbed, file, source) == nullptr);
        QCOMPARE(m_window->mdiArea()->subWindowList().size(), 1);
        QVERIFY2(m_ui->text().endsWith(u"W|Pelinor|Žig se ne može umetnuti.\n\nDatoteka: "_s + file
                     + u"\nRazlog: "_s + reason + u'.'),
            qPrintable(m_ui->text()));
    }

    void cancelledOrWindowlessCommandsAreSilent()
    {
        // Without an image window, save and embed still ask for a file, then end quietly.
        run(m_window->mnuSpremi, m_dir->filePath(u"x.bmp"_s));
        run(m_window->mnuEmbed, m_dir->filePath(u"x.wmk"_s));
        QVERIFY(!QFile::exists(m_dir->filePath(u"x.bmp"_s)));
        QVERIFY(open(bmp(u"a.bmp"_s)) != nullptr);
        for (QAction* action : {m_window->mnuOtvori, m_window->mnuSpremi, m_window->mnuEmbed}) {
            m_ui->cancel();
            action->trigger();
        }
        QCOMPARE(m_ui->text(true).split(kSep).size(), 6); // the file dialogs
        QCOMPARE(m_ui->text(), QString()); // and nothing else
        QCOMPARE(m_window->mdiArea()->subWindowList().size(), 1);
    }

    // An existing picture is replaced without a question; any other file only on a Yes.
    void save_data()
    {
        const std::vector<std::uint8_t> png = encodePng(*texturedPicture(9, 7, 3));
        const QByteArray picture(reinterpret_cast<const char*>(png.data()), qsizetype(png.size()));
        const QByteArray watermark("\"CXSG\"\r\n1\r\n0.3\r\n0\r\n1\r\n0.5\r\n");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("existing");
        QTest::addColumn<bool>("marked");
        QTest::addColumn<QList<bool>>("replies");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<bool>("replaced");
        QTest::newRow("no extension added")
            << "bez nastavka" << QByteArray() << false << QList<bool>() << false << true;
        QTest::newRow("picture replaced")
            << "postoji.png" << picture << false << QList<bool>() << false << true;
        QTest::newRow("other file kept by default")
            << "postoji.bmp" << QByteArray(100000, 'x') << false << QList<bool>() << true << false;
        QTest::newRow("other file replaced on Yes")
            << "postoji.bmp" << QByteArray(100000, 'x') << false << QList<bool>{true} << true << true;
        QTest::newRow("watermark kept on No")
            << "zig.wmk" << watermark << true << QList<bool>{false} << true << false;
        QTest::newRow("empty file asked for")
            << "prazna" << QByteArray("", 0) << false << QList<bool>() << true << false;
        QTest::newRow("marked window")
            << "oznacena.bmp" << QByteArray() << true << QList<bool>() << false << true;
    }

    void save()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, existing);
        QFETCH(bool, marked);
        QFETCH(QList<bool>, replies);
        QFETCH(bool, asked);
        QFETCH(bool, replaced);
        const QString source = bmp(u"izvor.bmp"_s);
        FrmSlika* window = open(source);
        if (marked) window = run(m_window->mnuEmbed, wmk(u"oznaka.wmk"_s), window);
        QVERIFY(window != nullptr);
        const QString target = m_dir->filePath(name);
        if (asked || !existing.isEmpty()) writeFile(target, existing);
        m_ui->log.clear();
        m_ui->replies = replies;
        run(m_window->mnuSpremi, target);
        QCOMPARE(m_ui->text(), asked ? replaceQuestion(target) : QString());
        QVERIFY(m_ui->replies.isEmpty());
        const std::vector<std::uint8_t> expected
            = encodePicture(*window->shownPicture(), formatForPath(target.toStdString()));
        const QByteArray saved(reinterpret_cast<const char*>(expected.data()), qsizetype(expected.size()));
        QCOMPARE(readAll(target), replaced ? saved : existing);
        QVERIFY(!QFile::exists(target + u".bmp"_s));
        if (replaced && formatForPath(target.toStdString()) == ImageFormat::Bmp)
            QCOMPARE(readAll(target) == readAll(source), !marked);
    }

    // The shared dialog offers the watermark file just chosen to embed; accepting it
    // unthinkingly (the default answer) keeps the key.
    void saveAfterEmbedKeepsTheWatermarkFile()
    {
        FrmSlika* source = open(bmp(u"slika.bmp"_s));
        const QString key = wmk(u"kljuc.wmk"_s);
        const QByteArray before = readAll(key);
        FrmSlika* marked = run(m_window->mnuEmbed, key, source);
        QVERIFY(marked != nullptr);
        m_ui->log.clear();
        run(m_window->mnuSpremi, key, marked);
        QCOMPARE(
            m_ui->text(true), u"save|Pelinor|"_s + kPictures + u"|"_s + key + kSep + replaceQuestion(key));
        QCOMPARE(readAll(key), before);
    }

    // A symbolic link as the target is written through and stays a link; a link to a
    // watermark file asks as the file itself would.
    void saveWritesThroughLinks()
    {
        FrmSlika* window = open(bmp(u"izvor.bmp"_s));
        QVERIFY(window != nullptr);
        const QString real = bmp(u"stara.bmp"_s, 5, 5, 9);
        const QString link = m_dir->filePath(u"veza.bmp"_s);
        QVERIFY(QFile::link(real, link));
        m_ui->log.clear();
        run(m_window->mnuSpremi, link);
        QCOMPARE(m_ui->text(), QString());
        QVERIFY(QFileInfo(link).isSymLink());
        const std::vector<std::uint8_t> expected = encodeBmp(*window->shownPicture());
        QCOMPARE(readAll(real),
            QByteArray(reinterpret_cast<const char*>(expected.data()), qsizetype(expected.size())));

        const QString key = wmk(u"kljuc.wmk"_s);
        const QString keyLink = m_dir->filePath(u"kljuc-veza.bmp"_s);
        QVERIFY(QFile::link(key, keyLink));
        const QByteArray before = readAll(key);
        run(m_window->mnuSpremi, keyLink);
        QCOMPARE(m_ui->text(), replaceQuestion(keyLink));
        QCOMPARE(readAll(key), before);
        QVERIFY(QFileInfo(keyLink).isSymLink());
    }

    void embedMakesNewMarkedWindows()
    {
        const QString image = bmp(u"original.bmp"_s);
        FrmSlika* source = open(image);
        QVERIFY(source != nullptr);
        const std::vector<std::uint8_t> before = pixelsOf(source->shownPicture());
        const QString watermark = wmk(u"a.wmk"_s, 100, 1.0);
        m_ui->log.clear();
        FrmSlika* first = run(m_window->mnuEmbed, watermark, source);
        QVERIFY(first != nullptr && first != source);
        QCOMPARE(m_ui->text(true).split(kSep),
            (QStringList{u"open|Odabir vodenog žiga|Žig (*.wmk)|"_s + image,
                u"I|Vazna obavijest|Umetanje žiga može potrajati. "_s + kCtrlAltDel, u"wait"_s, u"done"_s}));
        QCOMPARE(first->windowTitle(), u"Označena slika"_s);
        QCOMPARE(m_window->activeImageWindow(), first);
        QCOMPARE(first->shownPicture(), first->workingPicture());
        QCOMPARE(first->picSlika()->size(), QSize(48, 40));
        QVERIFY(pixelsOf(first->shownPicture()) != before);
        // The design's embedding exactly, at the file's alpha, though it is far below the
        // command line's quality floor.
        const EmbedResult designs
            = embedWatermark(*loadPicture(image.toStdString()), readWatermark(watermark.toStdString()));
        const PictureRef original = loadPicture(image.toStdString());
        QVERIFY2(designs.psnr < kDefaultMinPsnr || banding(*original, *designs.marked) > kDefaultMaxBanding,
            qPrintable(QString::number(designs.psnr)));
        QCOMPARE(pixelsOf(first->shownPicture()), pixelsOf(designs.marked));
        QCOMPARE(pixelsOf(source->shownPicture()), before); // the source untouched
        QCOMPARE(pixelsOf(source->workingPicture()), before);
        QCOMPARE(source->windowTitle(), image);

        // Embedding again, from the source and from the marked window itself, leaves
        // the first marked window's picture as it was.
        const PictureRef firstPicture = first->shownPicture();
        const std::vector<std::uint8_t> firstPixels = pixelsOf(firstPicture);
        FrmSlika* second = run(m_window->mnuEmbed, wmk(u"b.wmk"_s, 150, 0.5), source);
        FrmSlika* third = run(m_window->mnuEmbed, wmk(u"c.wmk"_s), first);
        QVERIFY(second != nullptr && third != nullptr);
        QCOMPARE(first->shownPicture(), firstPicture);
        QCOMPARE(pixelsOf(firstPicture), firstPixels);
        QVERIFY(pixelsOf(second->shownPicture()) != firstPixels);
        QVERIFY(third->shownPicture() != firstPicture);
        QCOMPARE(m_window->mdiArea()->subWindowList().size(), 4);
    }

    void eightBitPictureIsRefused()
    {
        FrmSlika* palette = open(kPalette);
        QVERIFY(palette != nullptr); // shown like any other picture
        m_ui->log.clear();
        QVERIFY(run(m_window->mnuEmbed, m_dir->filePath(u"nema.wmk"_s), palette) == nullptr);
        QCOMPARE(m_ui->text(), kOnly24); // refused before the watermark file is read
    }

    void generate_data()
    {
        QTest::addColumn<QStringList>("typed"); // "field=text"
        QTest::addColumn<bool>("croatian");
        QTest::addColumn<int>("lines"); // -1: refused
        QTest::addColumn<QString>("header"); // the first five lines, when checked
        QTest::newRow("defaults") << QStringList() << false << 105 << "\"CXSG\"|100|0.3|0|1";
        QTest::newRow("decimal comma") << QStringList{"txtVelicina=4", "txtSrednjaVrije=-1,5", "txtDev=2,5"}
                                       << true << 9 << "\"CXSG\"|4|0.3|-1.5|2.5";
        QTest::newRow("odd length") << QStringList{"txtVelicina=7"} << false << 12 << "";
        QTest::newRow("negative length") << QStringList{"txtVelicina=-5"} << false << -1 << "";
        QTest::newRow("zero length") << QStringList{"txtVelicina=0"} << false << -1 << "";
        QTest::newRow("length rounds to zero") << QStringList{"txtVelicina=0.4"} << false << -1 << "";
        QTest::newRow("length of one") << QStringList{"txtVelicina=1"} << false << 6 << "\"CXSG\"|1|0.3|0|1";
        QTest::newRow("length half to even") << QStringList{"txtVelicina=2.5"} << false << 7 << "";
        QTest::newRow("length rounds up") << QStringList{"txtVelicina=3.5"} << false << 9 << "";
        QTest::newRow("letters in the length") << QStringList{"txtVelicina=sto"} << false << -1 << "";
        QTest::newRow("letters in alpha") << QStringList{"txtAlfa=abc"} << false << -1 << "";
        QTest::newRow("letters in the mean") << QStringList{"txtSrednjaVrije=x"} << false << -1 << "";
        QTest::newRow("letters in the deviation") << QStringList{"txtDev=jedan"} << false << -1 << "";
        QTest::newRow("length beyond 32 bits") << QStringList{"txtVelicina=3000000000"} << false << -1 << "";
        QTest::newRow("empty number") << QStringList{"txtAlfa="} << false << -1 << "";
        QTest::newRow("empty file name") << QStringList{"txtImeDat="} << false << -1 << "";
        QTest::newRow("period under a decimal comma") << QStringList{"txtAlfa=0.3"} << true << -1 << "";
    }

    void generate()
    {
        QFETCH(QStringList, typed);
        QFETCH(bool, croatian);
        QFETCH(int, lines);
        QFETCH(QString, header);
        if (croatian) m_ui->locale = QLocale(QLocale::Croatian, QLocale::Croatia);
        const QString path = m_dir->filePath(u"postojeci.wmk"_s);
        writeFile(path, "staro");
        QPointer<FrmGen> dialog;
        withModal<FrmGen>(m_window->mnuGen, [&](FrmGen* gen) {
            dialog = gen;
            gen->txtImeDat->setText(path);
            for (const QString& field : typed)
                gen->findChild<QLineEdit*>(field.section(u'=', 0, 0))->setText(field.section(u'=', 1));
            gen->cmdGen->click();
            QCOMPARE(gen->isVisible(), lines >= 0); // a success keeps the dialog open, a failure closes it
            if (gen->isVisible()) gen->cmdOdustani->click();
        });
        QVERIFY(dialog.isNull());
        if (lines < 0) {
            QCOMPARE(m_ui->text(), kGenWarning);
            QCOMPARE(readAll(path), QByteArray("staro")); // nothing written or created
            QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files).size(), 1);
            return;
        }
        QCOMPARE(m_ui->text(), kGenDone);
        const QStringList written = readLines(path);
        QCOMPARE(written.size(), lines);
        if (!header.isEmpty()) QCOMPARE(written.mid(0, 5).join(u'|'), header);
        for (const QString& line : written)
            QVERIFY(!line.startsWith(u' ') && !line.contains(u','));
    }

    // A file that cannot be written is reported with its name and reason, and the dialog
    // stays open with everything typed, so only the name needs changing.
    void generationFileFailureKeepsTheDialog_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing folder") << "nema mape/zig.wmk"
                                        << "mapa ne postoji (pogreška 76)";
        QTest::newRow("a folder") << "mapa"
                                  << "putanji se ne može pristupiti (pogreška 75)";
    }

    void generationFileFailureKeepsTheDialog()
    {
        QFETCH(QString, name);
        QFETCH(QString, reason);
        QVERIFY(QDir(m_dir->path()).mkdir(u"mapa"_s));
        const QString bad = m_dir->filePath(name);
        const QString good = m_dir->filePath(u"zig.wmk"_s);
        withModal<FrmGen>(m_window->mnuGen, [&](FrmGen* gen) {
            gen->txtImeDat->setText(bad);
            gen->txtVelicina->setText(u"7"_s);
            gen->txtAlfa->setText(u"0.25"_s);
            gen->txtSrednjaVrije->setText(u"2"_s);
            gen->txtDev->setText(u"3"_s);
            gen->cmdGen->click();
            QVERIFY(gen->isVisible());
            QCOMPARE(m_ui->text(),
                u"W|Pelinor|Žig se ne može spremiti.\n\nDatoteka: "_s + bad + u"\nRazlog: "_s + reason
                    + u'.');
            const QStringList kept{gen->txtImeDat->text(), gen->txtVelicina->text(), gen->txtAlfa->text(),
                gen->txtSrednjaVrije->text(), gen->txtDev->text()};
            QCOMPARE(kept, (QStringList{bad, u"7"_s, u"0.25"_s, u"2"_s, u"3"_s}));
            m_ui->log.clear();
            gen->txtImeDat->setText(good);
            gen->cmdGen->click();
            QCOMPARE(m_ui->text(), kGenDone);
            gen->cmdOdustani->click();
        });
        QCOMPARE(readLines(good).mid(0, 5), (QStringList{u"\"CXSG\""_s, u"7"_s, u"0.25"_s, u"2"_s, u"3"_s}));
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{u"zig.wmk"_s});
    }

    void generationDialogLifecycle()
    {
        const QString chosen = m_dir->filePath(u"bez nastavka"_s);
        QPointer<FrmGen> first;
        withModal<FrmGen>(m_window->mnuGen, [&](FrmGen* gen) {
            first = gen;
            QTest::keyClick(gen->txtDev, Qt::Key_Return); // neither key presses a button
            QTest::keyClick(gen->txtDev, Qt::Key_Escape);
            QVERIFY(gen->isVisible() && m_ui->log.isEmpty());
            gen->txtImeDat->setText(u"tipkano.wmk"_s);
            m_ui->cancel();
            gen->cmdOdaberi->click();
            QCOMPARE(gen->txtImeDat->text(), u"tipkano.wmk"_s);
            m_ui->answer(chosen);
            gen->cmdOdaberi->click();
            QCOMPARE(gen->txtImeDat->text(), chosen); // as chosen: no extension added
            gen->txtVelicina->setText(u"10"_s);
            gen->cmdGen->click();
            const QStringList once = readLines(chosen);
            gen->cmdGen->click(); // again: a new sequence from the clock
            QCOMPARE(gen->txtVelicina->text(), u"10"_s);
            QCOMPARE(readLines(chosen).size(), 15);
            QVERIFY(readLines(chosen).mid(5) != once.mid(5));
            gen->cmdOdustani->click();
        });
        QVERIFY(first.isNull()); // "O&dustani" discards it; the next one starts afresh
        for (int round = 0; round < 2; ++round)
            withModal<FrmGen>(m_window->mnuGen, [&](FrmGen* gen) {
                QCOMPARE(gen->txtImeDat->text(), QString());
                QCOMPARE(gen->txtVelicina->text(), u"100"_s);
                gen->txtVelicina->setText(u"55"_s);
                gen->close(); // so does the close box
            });
        QCOMPARE(m_ui->text(), kGenDone + kSep + kGenDone);
    }

    void testVerdicts_data()
    {
        // The three boxes (original, watermark, marked) for each press of "&Testiraj";
        // "mark" is a marked copy of "orig".
        QTest::addColumn<QStringList>("paths");
        QTest::addColumn<bool>("croatian");
        QTest::addColumn<QString>("expected"); // a pattern for the log
        const auto esc = [](const QString& text) { return QRegularExpression::escape(text); };
        const QString busy = esc(u"I|Vazna obavijest|Testiranje žiga može potrajati. "_s + kCtrlAltDel + kSep
            + u"wait"_s + kSep + u"done"_s + kSep);
        const QString ratio = busy + esc(kRatio);
        const QString found = esc(u"\nŽig je pronađen u označenoj slici."_s);
        const QString notFound = esc(u"\nOznačena slika ne sadrži žig."_s);
        const QString error = esc(u"C|Pelinor|Pogreška "_s);
        const QString body = u"\n\n[^¦]{6,}"_s; // the core's own text
        const QString rest = u":( [^\n¦]+\\.)?"_s + body;
        const QString missing = esc(u": datoteka ne postoji."_s) + body;
        const QStringList marked = {u"orig"_s, u"zig"_s, u"mark"_s};
        QTest::newRow("found") << marked << false << ratio + u"(0\\.9\\d*|1)"_s + found;
        QTest::newRow("decimal comma") << marked << true << ratio + u"0,9\\d*"_s + found;
        QTest::newRow("identical image")
            << QStringList{"orig", "zig", "orig"} << false << ratio + u"0"_s + notFound;
        // A second press reads every box again.
        QTest::newRow("pressed twice")
            << QStringList{"mark", "zig", "orig"} + marked << false
            << ratio + u"-[^¦]+"_s + notFound + esc(kSep) + ratio + u"0\\.9\\d*"_s + found;
        QTest::newRow("empty original") << QStringList{"", "zig", "mark"} << false << esc(kOnly24);
        QTest::newRow("8-bit original") << QStringList{kPalette, "zig", "mark"} << false << esc(kOnly24);
        QTest::newRow("empty marked") << QStringList{"orig", "zig", ""} << false << busy + esc(kOnly24);
        QTest::newRow("missing original")
            << QStringList{"nema.bmp", "zig", "mark"} << false << error + "53" + missing;
        QTest::newRow("missing marked")
            << QStringList{"orig", "zig", "nema.bmp"} << false << error + "53" + missing;
        QTest::newRow("missing watermark")
            << QStringList{"orig", "nema.wmk", "mark"} << false << error + "53" + missing;
        QTest::newRow("missing folder") << QStringList{"/nema/mape/slika.bmp", "zig", "mark"} << false
                                        << error + "76" + esc(u": mapa ne postoji."_s) + body;
        QTest::newRow("empty watermark path")
            << QStringList{"orig", "", "mark"} << false << error + "\\d+" + rest;
        // A picture of another size that is no copy of the original cannot be registered onto it.
        QTest::newRow("black picture of another size") << QStringList{"orig", "zig", "crna"} << false
                                                       << busy + error + "1010"
                + esc(u": slika s žigom ne može se poravnati s originalnom slikom."_s) + body;
    }

    void testVerdicts()
    {
        QFETCH(QStringList, paths);
        QFETCH(bool, croatian);
        QFETCH(QString, expected);
        const PictureRef original = texturedPicture(48, 40, 5);
        savePicture(*original, m_dir->filePath(u"orig"_s).toStdString());
        const Watermark watermark = readWatermark(wmk(u"zig"_s).toStdString());
        savePicture(*embedWatermark(*original, watermark).marked, m_dir->filePath(u"mark"_s).toStdString());
        savePicture(*Picture::create(20, 16), m_dir->filePath(u"crna"_s).toStdString());
        for (QString& path : paths)
            if (!path.isEmpty() && !path.startsWith(u'/')) path = m_dir->filePath(path);
        if (croatian) m_ui->locale = QLocale(QLocale::Croatian, QLocale::Croatia);
        withModal<FrmTest>(m_window->mnuTest, [&](FrmTest* test) {
            for (qsizetype press = 0; press < paths.size(); press += 3) {
                for (int i = 0; i < 3; ++i)
                    test->txtParametar[i]->setText(paths[press + i]);
                test->cmdTestiraj->click();
                QVERIFY(test->isVisible()); // the dialog stays open with its texts
                QCOMPARE(test->txtParametar[1]->text(), paths[press + 1]);
            }
        });
        const QString log = m_ui->text();
        QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(expected)).match(log).hasMatch(),
            qPrintable(log));
    }

    // A copy at half the size is registered onto the original and tested there; the
    // verdict reads as for any other test.
    void testRegistersAResizedSuspect()
    {
        // Smooth shapes, so that the largest coefficients survive halving.
        PictureRef original = Picture::create(200, 150);
        for (int y = 0; y < 150; ++y)
            for (int x = 0; x < 3 * 200; ++x) {
                const int px = x / 3, c = x % 3;
                original->bits()[std::size_t(y) * original->stride() + std::size_t(x)] = std::uint8_t(128
                    + 40 * std::sin(px / 9.0 + c) * std::cos(y / 7.0) + 25 * std::sin((px + y) / 13.0)
                    + 20 * std::cos(px / 5.0 - y / 11.0 + c) + 15 * std::sin(px * y / 300.0));
            }
        savePicture(*original, m_dir->filePath(u"velika"_s).toStdString());
        const Watermark watermark = readWatermark(wmk(u"zig"_s).toStdString());
        const PictureRef marked = embedWatermark(*original, watermark).marked;
        const PictureRef half = Picture::create(100, 75);
        for (int y = 0; y < 75; ++y)
            for (int x = 0; x < 3 * 100; ++x) {
                const auto at = [&](int dx, int dy) {
                    return int(marked->bits()[std::size_t(2 * y + dy) * marked->stride()
                        + std::size_t(2 * (x - x % 3) + x % 3 + 3 * dx)]);
                };
                half->bits()[std::size_t(y) * half->stride() + std::size_t(x)]
                    = std::uint8_t((at(0, 0) + at(1, 0) + at(0, 1) + at(1, 1) + 2) / 4);
            }
        savePicture(*half, m_dir->filePath(u"pola.png"_s).toStdString());
        withModal<FrmTest>(m_window->mnuTest, [&](FrmTest* test) {
            test->txtParametar[0]->setText(m_dir->filePath(u"velika"_s));
            test->txtParametar[1]->setText(m_dir->filePath(u"zig"_s));
            test->txtParametar[2]->setText(m_dir->filePath(u"pola.png"_s));
            test->cmdTestiraj->click();
        });
        const QString log = m_ui->text();
        QVERIFY2(QRegularExpression(QRegularExpression::escape(kRatio)
                     + u"0\\.[89]\\d*\nŽig je pronađen u označenoj slici.$"_s)
                     .match(log)
                     .hasMatch(),
            qPrintable(log));
    }

    void testDialogReopensEmpty()
    {
        QPointer<FrmTest> first;
        for (int round = 0; round < 3; ++round)
            withModal<FrmTest>(m_window->mnuTest, [&](FrmTest* test) {
                for (int i = 0; i < 3; ++i)
                    QCOMPARE(test->txtParametar[i]->text(), QString());
                for (int i = 0; i < 3; ++i)
                    test->txtParametar[i]->setText(u"x"_s);
                if (round == 0) first = test;
                if (round == 1)
                    test->close(); // the close box unloads it like "O&dustani"
                else
                    test->cmdOdustani->click();
                QVERIFY(!test->isVisible());
            });
        QVERIFY(first.isNull());
        QVERIFY(m_ui->log.isEmpty());
    }

    void aboutBox()
    {
        QPointer<FrmDialog> shown;
        QStringList texts;
        const auto textsOf = [](const FrmDialog* about) {
            return QStringList{about->windowTitle(), about->lblProgram->text(), about->lblAutor->text(),
                about->Label1->text(), about->OKButton->text()};
        };
        // OK hides the box and the next showing is the same one; its close box
        // destroys it and the next showing makes a new one with the same texts.
        for (int round = 0; round < 3; ++round) {
            withModal<FrmDialog>(m_window->mnuAbout, [&](FrmDialog* about) {
                if (round == 0) shown = about, texts = textsOf(about);
                QCOMPARE(about == shown.data(), round < 2);
                QCOMPARE(textsOf(about), texts);
                if (round == 1)
                    about->close();
                else
                    about->OKButton->click();
                QVERIFY(!about->isVisible());
            });
            QCOMPARE(shown.isNull(), round > 0);
        }
        QCOMPARE(texts.value(0), u"O programu"_s);
        QVERIFY(!texts.contains(QString()));
        QVERIFY(m_ui->log.isEmpty());
    }

    void exitClosesUnsavedWindowsWithoutAsking()
    {
        FrmSlika* image = open(bmp(u"a.bmp"_s));
        QVERIFY(run(m_window->mnuEmbed, wmk(u"a.wmk"_s), image) != nullptr);
        const QPointer<QMdiSubWindow> child = image;
        m_ui->log.clear();
        m_window->mnuIzlaz->trigger();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!m_window->isVisible());
        QVERIFY(child.isNull());
        QVERIFY(m_window->mdiArea()->subWindowList().isEmpty());
        QVERIFY(m_ui->log.isEmpty());
    }

    void imageWindowLayout()
    {
        QCOMPARE(FrmSlika(*m_ui).windowTitle(), u"Form1"_s); // until a picture is opened
        FrmSlika* window = open(bmp(u"raspored.bmp"_s, 300, 200));
        QVERIFY(window != nullptr);
        const std::pair<QSize, QPoint> cases[] = {
            {QSize(300, 200), QPoint(0, 0)}, // outer size equal to the picture's
            {QSize(500, 400), QPoint(100, 100)}, // (7500 - 4500) \ 2 = 1500 twips
            {QSize(301, 203), QPoint(0, 1)}, // 15 \ 2 = 7 twips -> 0 px; 45 \ 2 = 22 twips -> 1 px
            {QSize(200, 150), QPoint(-50, -25)}, // a larger picture is cut off equally
        };
        for (const auto& [outer, place] : cases) {
            window->resize(outer);
            QCOMPARE(window->size(), outer);
            QCOMPARE(window->picSlika()->pos(), place);
        }
    }

    void everyFileChoiceStartsFromTheLastPath()
    {
        const QString image = bmp(u"slika.bmp"_s);
        const QString watermark = m_dir->filePath(u"zig.wmk"_s);
        const QString original = m_dir->filePath(u"original.bmp"_s);
        QVERIFY(open(image) != nullptr);
        withModal<FrmGen>(m_window->mnuGen, [&](FrmGen* gen) {
            m_ui->answer(watermark);
            gen->cmdOdaberi->click();
        });
        m_ui->cancel();
        m_window->mnuSpremi->trigger();
        // The test dialog's three "&Odaberi" buttons each fill their own box.
        withModal<FrmTest>(m_window->mnuTest, [&](FrmTest* test) {
            m_ui->answer(image);
            test->cmdOdaberi[2]->click();
            m_ui->cancel();
            test->cmdOdaberi[1]->click();
            m_ui->answer(original);
            test->cmdOdaberi[0]->click();
            QCOMPARE((QStringList{test->txtParametar[0]->text(), test->txtParametar[1]->text(),
                         test->txtParametar[2]->text()}),
                (QStringList{original, QString(), image}));
        });
        m_ui->cancel();
        m_window->mnuEmbed->trigger();
        QCOMPARE(m_ui->text(true).split(kSep),
            (QStringList{u"open|Pelinor|"_s + kPictures + u"|"_s, // nothing chosen before the first
                u"save|Pelinor|Žigovi (*.wmk)|"_s + image,
                u"save|Pelinor|"_s + kPictures + u"|"_s + watermark,
                u"open|Slika s žigom|Bitmape (*.bmp)|"_s + watermark,
                u"open|Originalni žig|Žig (*.wmk)|"_s + image,
                u"open|Originalna slika|Bitmape (*.bmp)|"_s + image, // a cancel keeps the path
                u"open|Odabir vodenog žiga|Žig (*.wmk)|"_s + original}));
        QCOMPARE(m_window->cdlDat().fileName(), original);
    }
};

QTEST_MAIN(TestGui)
#include "test_gui.moc"
