// The desktop program end to end through its menu commands, on real files:
// start-up, open, save, embed, the generation and test dialogs, the about box,
// exit, the image window's layout and the shared file dialog's last path.
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <memory>

#include "app/frm_dialog.h"
#include "app/frm_pocetak.h"
#include "app/picture_area.h"
#include "fake_ui.h"
#include "image/frm_slika.h"
#include "image/image_io.h"
#include "watermark/embed.h"
#include "watermark/frm_gen.h"
#include "watermark/frm_test.h"
#include "watermark/generator.h"
#include "watermark/watermark_file.h"

using namespace pelinor;
using namespace pelinor::test;

namespace {

const QString kSep = QStringLiteral(" ¦ ");
const QString kOnly24 = QStringLiteral("C|Pelinor| 24-bit bitmaps only");
const QString kGenWarning = QStringLiteral("W|Pelinor|Nepravilno zadane vrijednosti parametara za generiranje žiga");
const QString kGenDone = QStringLiteral("I|Pelinor|Generiranje žiga je uspješno obavljeno.");
const QString kCtrlAltDel = QStringLiteral("Rad programa se u trenutnoj verziji može prekinuti samo s CTRL-ALT-DEL. :)");
const QString kRatio = QStringLiteral("I|Pelinor|Odnos sličnosti između originalnog i izvađenog žiga je ");
const QString kPalette = QStringLiteral(PELINOR_TESTDATA "/bmpsuite/g/pal8.bmp");

// A 24-bit picture with texture everywhere, so its DCT coefficients are distinct.
PictureRef texturedPicture(int width, int height, unsigned seed)
{
    PictureRef picture = Picture::create(width, height);
    unsigned state = seed * 2654435761u + 12345u;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < 3 * width; ++x) {
            state = state * 1664525u + 1013904223u;
            const int base = (x * 160) / (3 * width) + (y * 60) / height + (x % 3) * 10;
            picture->bits()[std::size_t(y) * picture->stride() + std::size_t(x)] =
                std::uint8_t(std::min(255, base + int(state >> 26)));
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

QStringList readLines(const QString& path)  // split at CRLF, without the final empty piece
{
    QStringList lines = QString::fromLatin1(readAll(path)).split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.back().isEmpty()) lines.pop_back();
    return lines;
}

std::vector<std::uint8_t> pixelsOf(const PictureRef& picture)
{
    return std::vector<std::uint8_t>(picture->bits(), picture->bits() + picture->byteCount());
}

QByteArray bmpBytes(const Picture& picture)
{
    const std::vector<std::uint8_t> bytes = encodeBmp(picture);
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

// The menu tree as one line: "&Datoteka[&Otvori,&Spremi,-,I&zlaz],...".
QString menuText(const QList<QAction*>& actions)
{
    QStringList parts;
    for (const QAction* action : actions) {
        QString part = action->isSeparator() ? QStringLiteral("-") : action->text();
        if (action->menu() != nullptr) part += QLatin1Char('[') + menuText(action->menu()->actions()) + QLatin1Char(']');
        parts << part;
    }
    return parts.join(QLatin1Char(','));
}

// What the user met, in order: "I|title|text" for a message (with "|busy" under
// the hourglass), "wait" and "done" for the hourglass, and with `dialogs`
// "open|title|filter|start" for a file dialog.
QString logText(const FakeUi& ui, bool dialogs = false)
{
    static const char* const icons[] = {"I", "W", "C"};
    QStringList out;
    for (const Recorded& e : ui.log) {
        if (e.kind == Recorded::Message)
            out << QLatin1String(icons[int(e.icon)]) + QLatin1Char('|') + e.title + QLatin1Char('|') + e.text +
                       (e.waitDepth > 0 ? QStringLiteral("|busy") : QString());
        else if (e.kind == Recorded::FileDialog && dialogs)
            out << QStringList{e.request.mode == FileDialogMode::Open ? QStringLiteral("open") : QStringLiteral("save"),
                               e.request.title, e.request.filter, e.request.startPath}
                       .join(QLatin1Char('|'));
        else if (e.kind != Recorded::FileDialog)
            out << (e.kind == Recorded::WaitOn ? QStringLiteral("wait") : QStringLiteral("done"));
    }
    return out.join(kSep);
}

}  // namespace

class TestGuiFlows : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void startUpAndMenuTree();
    void openTwiceGivesTwoIndependentWindows();
    void failedOpen_data();
    void failedOpen();
    void cancelledOrWindowlessCommandsAreSilent();
    void save_data();
    void save();
    void embedMakesNewMarkedWindows();
    void eightBitPictureIsRefused();
    void failedEmbed_data();
    void failedEmbed();
    void generate_data();
    void generate();
    void generationDialogLifecycle();
    void generateWithDecimalComma();
    void testVerdicts_data();
    void testVerdicts();
    void odaberiButtons_data();
    void odaberiButtons();
    void testDialogReopensEmpty();
    void aboutBox();
    void exitClosesUnsavedWindowsWithoutAsking();
    void imageWindowLayout();
    void everyFileChoiceStartsFromTheLastPath();

private:
    FrmSlika* open(const QString& path);
    FrmSlika* embed(FrmSlika* source, const QString& watermark);
    QString bmp(const QString& name, int width = 48, int height = 40, unsigned seed = 1);
    QString wmk(const QString& name, int length = 100, double alpha = 0.3);
    // Runs `command`, which shows a modal Dialog, and `script` on it once it is up.
    // Whatever the script leaves open is closed, so a failing check cannot hang.
    template <class Dialog>
    void withModal(QAction* command, const std::function<void(Dialog*)>& script);
    void runTest(const QStringList& paths, int presses = 1);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeUi> m_ui;
    std::unique_ptr<MDIPocetak> m_window;
};

void TestGuiFlows::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_ui = std::make_unique<FakeUi>();
    m_window = std::make_unique<MDIPocetak>(*m_ui);
    m_window->show();
}

void TestGuiFlows::cleanup()
{
    m_window.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    m_ui.reset();
    m_dir.reset();
}

FrmSlika* TestGuiFlows::open(const QString& path)
{
    const qsizetype before = m_window->mdiArea()->subWindowList().size();
    m_ui->answer(path);
    m_window->mnuOtvori->trigger();
    return m_window->mdiArea()->subWindowList().size() == before + 1 ? m_window->activeImageWindow() : nullptr;
}

FrmSlika* TestGuiFlows::embed(FrmSlika* source, const QString& watermark)
{
    m_window->mdiArea()->setActiveSubWindow(source);
    const qsizetype before = m_window->mdiArea()->subWindowList().size();
    m_ui->answer(watermark);
    m_window->mnuEmbed->trigger();
    return m_window->mdiArea()->subWindowList().size() == before + 1 ? m_window->activeImageWindow() : nullptr;
}

QString TestGuiFlows::bmp(const QString& name, int width, int height, unsigned seed)
{
    const QString path = m_dir->filePath(name);
    savePicture(*texturedPicture(width, height, seed), path.toStdString());
    return path;
}

QString TestGuiFlows::wmk(const QString& name, int length, double alpha)
{
    const QString path = m_dir->filePath(name);
    CoxGenMark(path.toStdString(), alpha, length, 12345, 0.0, 1.0);
    return path;
}

template <class Dialog>
void TestGuiFlows::withModal(QAction* command, const std::function<void(Dialog*)>& script)
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

void TestGuiFlows::startUpAndMenuTree()
{
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Pelinor"));
    QVERIFY(m_window->mdiArea()->subWindowList().isEmpty());
    QVERIFY(m_window->findChild<QDialog*>() == nullptr);
    QCOMPARE(m_window->mdiArea()->size(), QSize(674, 427));  // 10110 x 6405 twips at 96 dpi
    const QPoint offCentre = m_window->frameGeometry().center() - m_window->screen()->availableGeometry().center();
    QVERIFY(offCentre.manhattanLength() <= 2);
    QCOMPARE(menuText(m_window->menuBar()->actions()),
             QStringLiteral("&Datoteka[&Otvori,&Spremi,-,I&zlaz],&Pelinor[Co&x et al. algoritam[&Generiranje žiga,"
                            "&Umetanje žiga,&Testiranje žiga]],&O programu"));
    // The commands the tests trigger are the ones in the menus.
    for (const QAction* action : {m_window->mnuOtvori, m_window->mnuSpremi, m_window->mnuIzlaz, m_window->mnuGen,
                                  m_window->mnuEmbed, m_window->mnuTest, m_window->mnuAbout})
        QVERIFY(!action->associatedObjects().isEmpty());
    QVERIFY(m_ui->log.empty());
}

void TestGuiFlows::openTwiceGivesTwoIndependentWindows()
{
    const QString path = bmp(QStringLiteral("dva puta.bmp"));
    FrmSlika* first = open(path);
    FrmSlika* second = open(path);
    QVERIFY(first != nullptr && second != nullptr && first != second);
    QCOMPARE(first->windowTitle(), path);
    QCOMPARE(second->windowTitle(), path);
    QCOMPARE(logText(*m_ui), QString());
    // Four distinct picture objects holding the same pixels; only picSlika is shown.
    const PictureRef pictures[4] = {first->shownPicture(), first->workingPicture(), second->shownPicture(),
                                    second->workingPicture()};
    for (int i = 0; i < 4; ++i) {
        for (int j = i + 1; j < 4; ++j) QVERIFY(pictures[i] != pictures[j]);
        QCOMPARE(pixelsOf(pictures[i]), pixelsOf(pictures[0]));
    }
    QCOMPARE(pictures[0]->width(), 48);
    QVERIFY(first->picSlika()->isVisible() && !first->picBuffer()->isVisible());
}

void TestGuiFlows::failedOpen_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing file") << QByteArray() << "datoteka ne postoji (pogreška 53)";
    QTest::newRow("not a picture") << QByteArray("ovo nije slika\r\n")
                                   << "datoteka nije slika koju program može pročitati (pogreška 481)";
}

void TestGuiFlows::failedOpen()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);
    const QString path = m_dir->filePath(QStringLiteral("los.bmp"));
    if (!content.isEmpty()) writeFile(path, content);
    QVERIFY(open(path) == nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(m_window->mdiArea()->subWindowList().isEmpty());  // no empty "Form1" left behind
    QCOMPARE(logText(*m_ui), QStringLiteral("W|Pelinor|Slika se ne može otvoriti.\n\nDatoteka: ") + path +
                                 QStringLiteral("\nRazlog: ") + reason + QLatin1Char('.'));
}

void TestGuiFlows::cancelledOrWindowlessCommandsAreSilent()
{
    // Without an image window, save and embed still ask for a file, then end quietly.
    m_ui->answer(m_dir->filePath(QStringLiteral("x.bmp")));
    m_window->mnuSpremi->trigger();
    m_ui->answer(m_dir->filePath(QStringLiteral("x.wmk")));
    m_window->mnuEmbed->trigger();
    QVERIFY(!QFile::exists(m_dir->filePath(QStringLiteral("x.bmp"))));
    QVERIFY(open(bmp(QStringLiteral("a.bmp"))) != nullptr);
    for (QAction* action : {m_window->mnuOtvori, m_window->mnuSpremi, m_window->mnuEmbed}) {
        m_ui->cancel();
        action->trigger();
    }
    QCOMPARE(m_ui->dialogs().size(), std::size_t(6));
    QCOMPARE(logText(*m_ui), QString());
    QCOMPARE(m_window->mdiArea()->subWindowList().size(), 1);
}

void TestGuiFlows::save_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("existing");
    QTest::addColumn<bool>("marked");
    QTest::addColumn<bool>("saved");
    QTest::newRow("no extension added") << "bez nastavka" << QByteArray() << false << true;
    QTest::newRow("existing file overwritten") << "postoji.bmp" << QByteArray(100000, 'x') << false << true;
    QTest::newRow("marked window") << "oznacena.bmp" << QByteArray() << true << true;
    QTest::newRow("missing folder reported") << "nema mape/slika.bmp" << QByteArray() << false << false;
}

void TestGuiFlows::save()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, existing);
    QFETCH(bool, marked);
    QFETCH(bool, saved);
    const QString source = bmp(QStringLiteral("izvor.bmp"));
    FrmSlika* window = open(source);
    if (marked) window = embed(window, wmk(QStringLiteral("zig.wmk")));
    QVERIFY(window != nullptr);
    const QString target = m_dir->filePath(name);
    if (!existing.isEmpty()) writeFile(target, existing);
    m_ui->log.clear();
    m_ui->answer(target);
    m_window->mnuSpremi->trigger();
    if (saved) {
        QCOMPARE(logText(*m_ui), QString());
        QCOMPARE(readAll(target), bmpBytes(*window->shownPicture()));
        QVERIFY(!QFile::exists(target + QStringLiteral(".bmp")));
        QCOMPARE(readAll(target) == readAll(source), !marked);
    } else {
        QVERIFY2(logText(*m_ui).startsWith(QStringLiteral("W|Pelinor|Slika se ne može spremiti.\n\nDatoteka: ") + target +
                                           QStringLiteral("\nRazlog: ")),
                 qPrintable(logText(*m_ui)));
        QVERIFY(!QFile::exists(target));
    }
}

void TestGuiFlows::embedMakesNewMarkedWindows()
{
    const QString image = bmp(QStringLiteral("original.bmp"));
    FrmSlika* source = open(image);
    QVERIFY(source != nullptr);
    const std::vector<std::uint8_t> before = pixelsOf(source->shownPicture());
    const QString watermark = wmk(QStringLiteral("a.wmk"));
    m_ui->log.clear();
    FrmSlika* first = embed(source, watermark);
    QVERIFY(first != nullptr && first != source);
    QCOMPARE(logText(*m_ui, true), QStringLiteral("open|Odabir vodenog žiga|Žig (*.wmk)|") + image + kSep +
                                       QStringLiteral("I|Vazna obavijest|Umetanje žiga može potrajati. ") +
                                       kCtrlAltDel + kSep + QStringLiteral("wait") + kSep + QStringLiteral("done"));
    QCOMPARE(first->windowTitle(), QStringLiteral("Označena slika"));
    QCOMPARE(m_window->activeImageWindow(), first);
    QCOMPARE(first->shownPicture(), first->workingPicture());
    QCOMPARE(first->picSlika()->size(), QSize(48, 40));
    QVERIFY(pixelsOf(first->shownPicture()) != before);
    QCOMPARE(pixelsOf(source->shownPicture()), before);  // the source untouched
    QCOMPARE(pixelsOf(source->workingPicture()), before);
    QCOMPARE(source->windowTitle(), image);

    // Embedding again, from the source and from the marked window itself, leaves
    // the first marked window's picture as it was.
    const PictureRef firstPicture = first->shownPicture();
    const std::vector<std::uint8_t> firstPixels = pixelsOf(firstPicture);
    FrmSlika* second = embed(source, wmk(QStringLiteral("b.wmk"), 150, 0.5));
    FrmSlika* third = embed(first, wmk(QStringLiteral("c.wmk")));
    QVERIFY(second != nullptr && third != nullptr);
    QCOMPARE(first->shownPicture(), firstPicture);
    QCOMPARE(pixelsOf(firstPicture), firstPixels);
    QVERIFY(pixelsOf(second->shownPicture()) != firstPixels);
    QVERIFY(third->shownPicture() != firstPicture);
    QCOMPARE(m_window->mdiArea()->subWindowList().size(), 4);
}

void TestGuiFlows::eightBitPictureIsRefused()
{
    QVERIFY(open(kPalette) != nullptr);  // shown like any other picture
    m_ui->log.clear();
    m_ui->answer(m_dir->filePath(QStringLiteral("nema.wmk")));  // refused before the file is read
    m_window->mnuEmbed->trigger();
    QCOMPARE(logText(*m_ui), kOnly24);
    QCOMPARE(m_window->mdiArea()->subWindowList().size(), 1);
}

void TestGuiFlows::failedEmbed_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing file") << QByteArray() << "datoteka ne postoji (pogreška 53)";
    QTest::newRow("not a number") << QByteArray("\"CXSG\"\r\nsto\r\n0.3\r\n0\r\n1\r\n")
                                  << "vrijednost u datoteci nije ispravan broj (pogreška 13)";
    QTest::newRow("too few values") << QByteArray("\"CXSG\"\r\n3\r\n0.3\r\n0\r\n1\r\n0.5\r\n")
                                    << "datoteka završava prije svih najavljenih vrijednosti (pogreška 62)";
    QTest::newRow("length zero") << QByteArray("\"CXSG\"\r\n0\r\n0.3\r\n0\r\n1\r\n")
                                 << "neispravna duljina ili veličina podataka (pogreška 9)";
}

void TestGuiFlows::failedEmbed()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);
    const QString file = m_dir->filePath(QStringLiteral("los.wmk"));
    if (!content.isEmpty()) writeFile(file, content);
    FrmSlika* source = open(bmp(QStringLiteral("original.bmp")));
    m_ui->log.clear();
    QVERIFY(embed(source, file) == nullptr);
    // No notice and no hourglass: the file is read first.
    QCOMPARE(logText(*m_ui), QStringLiteral("W|Pelinor|Žig se ne može umetnuti.\n\nDatoteka: ") + file +
                                 QStringLiteral("\nRazlog: ") + reason + QLatin1Char('.'));
}

void TestGuiFlows::generate_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("lines");  // -1: refused
    QTest::newRow("defaults") << "" << "" << 105;
    QTest::newRow("odd length") << "txtVelicina" << "7" << 12;
    QTest::newRow("negative length") << "txtVelicina" << "-5" << 5;
    QTest::newRow("length half to even") << "txtVelicina" << "2.5" << 7;
    QTest::newRow("length rounds up") << "txtVelicina" << "3.5" << 9;
    QTest::newRow("letters in the length") << "txtVelicina" << "sto" << -1;
    QTest::newRow("letters in alpha") << "txtAlfa" << "abc" << -1;
    QTest::newRow("letters in the mean") << "txtSrednjaVrije" << "x" << -1;
    QTest::newRow("letters in the deviation") << "txtDev" << "jedan" << -1;
    QTest::newRow("length beyond 32 bits") << "txtVelicina" << "3000000000" << -1;
    QTest::newRow("empty number") << "txtAlfa" << "" << -1;
    QTest::newRow("empty file name") << "txtImeDat" << "" << -1;
}

void TestGuiFlows::generate()
{
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(int, lines);
    const QString path = m_dir->filePath(QStringLiteral("postojeci.wmk"));
    writeFile(path, "staro");
    QPointer<FrmGen> dialog;
    withModal<FrmGen>(m_window->mnuGen, [&](FrmGen* gen) {
        dialog = gen;
        gen->txtImeDat->setText(path);
        if (!field.isEmpty()) gen->findChild<QLineEdit*>(field)->setText(text);
        gen->cmdGen->click();
        QCOMPARE(gen->isVisible(), lines >= 0);  // a success keeps the dialog open, a failure closes it
        if (gen->isVisible()) gen->cmdOdustani->click();
    });
    QVERIFY(dialog.isNull());
    if (lines < 0) {
        QCOMPARE(logText(*m_ui), kGenWarning);
        QCOMPARE(readAll(path), QByteArray("staro"));  // nothing written or created
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files).size(), 1);
        return;
    }
    QCOMPARE(logText(*m_ui), kGenDone);
    const QStringList written = readLines(path);
    QCOMPARE(written.size(), lines);
    if (field.isEmpty()) QCOMPARE(written.mid(0, 5).join(QLatin1Char('|')), QStringLiteral("\"CXSG\"|100|0.3|0|1"));
    for (const QString& line : written) QVERIFY(!line.startsWith(QLatin1Char(' ')));
}

void TestGuiFlows::generationDialogLifecycle()
{
    const QString chosen = m_dir->filePath(QStringLiteral("bez nastavka"));
    QPointer<FrmGen> first;
    withModal<FrmGen>(m_window->mnuGen, [&](FrmGen* gen) {
        first = gen;
        QTest::keyClick(gen->txtDev, Qt::Key_Return);  // neither key presses a button
        QTest::keyClick(gen->txtDev, Qt::Key_Escape);
        QVERIFY(gen->isVisible() && m_ui->log.empty());
        gen->txtImeDat->setText(QStringLiteral("tipkano.wmk"));
        m_ui->cancel();
        gen->cmdOdaberi->click();
        QCOMPARE(gen->txtImeDat->text(), QStringLiteral("tipkano.wmk"));
        m_ui->answer(chosen);
        gen->cmdOdaberi->click();
        QCOMPARE(gen->txtImeDat->text(), chosen);  // as chosen: no extension added
        gen->txtVelicina->setText(QStringLiteral("10"));
        gen->cmdGen->click();
        const QStringList once = readLines(chosen);
        gen->cmdGen->click();  // again: a new sequence from the clock
        QCOMPARE(gen->txtVelicina->text(), QStringLiteral("10"));
        QCOMPARE(readLines(chosen).size(), 15);
        QVERIFY(readLines(chosen).mid(5) != once.mid(5));
        gen->cmdOdustani->click();
    });
    QVERIFY(first.isNull());  // "O&dustani" discards it; the next one starts afresh
    for (int round = 0; round < 2; ++round)
        withModal<FrmGen>(m_window->mnuGen, [&](FrmGen* gen) {
            QCOMPARE(gen->txtImeDat->text(), QString());
            QCOMPARE(gen->txtVelicina->text(), QStringLiteral("100"));
            gen->txtVelicina->setText(QStringLiteral("55"));
            gen->close();  // so does the close box
        });
    QCOMPARE(logText(*m_ui), kGenDone + kSep + kGenDone);
}

void TestGuiFlows::generateWithDecimalComma()
{
    m_ui->locale = QLocale(QLocale::Croatian, QLocale::Croatia);
    const QString path = m_dir->filePath(QStringLiteral("zarez.wmk"));
    withModal<FrmGen>(m_window->mnuGen, [&](FrmGen* gen) {
        QCOMPARE(gen->txtAlfa->text(), QStringLiteral("0,3"));  // the initial alpha in the user's notation
        gen->txtImeDat->setText(path);
        gen->txtVelicina->setText(QStringLiteral("4"));
        gen->txtSrednjaVrije->setText(QStringLiteral("-1,5"));
        gen->txtDev->setText(QStringLiteral("2,5"));
        gen->cmdGen->click();
        QCOMPARE(readLines(path).mid(0, 5).join(QLatin1Char('|')), QStringLiteral("\"CXSG\"|4|0.3|-1.5|2.5"));
        gen->txtAlfa->setText(QStringLiteral("0.3"));  // a period is not this locale's separator
        gen->cmdGen->click();
    });
    QCOMPARE(logText(*m_ui), kGenDone + kSep + kGenWarning);
    QCOMPARE(readLines(path).size(), 9);
}

void TestGuiFlows::runTest(const QStringList& paths, int presses)
{
    withModal<FrmTest>(m_window->mnuTest, [&](FrmTest* test) {
        for (int i = 0; i < 3; ++i) test->txtParametar[i]->setText(paths[i]);
        for (int i = 0; i < presses; ++i) test->cmdTestiraj->click();
        QVERIFY(test->isVisible());  // the dialog stays open with its texts
        QCOMPARE(test->txtParametar[1]->text(), paths[1]);
        test->cmdOdustani->click();
    });
}

void TestGuiFlows::testVerdicts_data()
{
    QTest::addColumn<QStringList>("paths");  // original, watermark, marked ("mark": a marked copy)
    QTest::addColumn<bool>("croatian");
    QTest::addColumn<int>("presses");
    QTest::addColumn<QString>("expected");  // a pattern for logText
    const auto esc = [](const QString& text) { return QRegularExpression::escape(text); };
    const QString notice = esc(QStringLiteral("I|Vazna obavijest|Testiranje žiga može potrajati. ") + kCtrlAltDel +
                               kSep + QStringLiteral("wait") + kSep + QStringLiteral("done") + kSep);
    const QString found = esc(QStringLiteral("\nŽig je pronađen u označenoj slici."));
    const QString error = esc(QStringLiteral("C|Pelinor|Pogreška "));
    const QString rest = QStringLiteral(":\n\n[^¦]{6,}");  // the core's own text
    const QString verdict = notice + esc(kRatio) + QStringLiteral("(0\\.9\\d*|1)") + found;
    QTest::newRow("marked, twice") << QStringList{"orig", "zig", "mark"} << false << 2
                                    << verdict + esc(kSep) + verdict;
    QTest::newRow("decimal comma") << QStringList{"orig", "zig", "mark"} << true << 1
                                   << notice + esc(kRatio) + QStringLiteral("0,9\\d*") + found;
    QTest::newRow("identical image") << QStringList{"orig", "zig", "orig"} << false << 1
                                     << notice + esc(kRatio + QStringLiteral("0\nOznačena slika ne sadrži žig."));
    QTest::newRow("empty original") << QStringList{"", "zig", "mark"} << false << 1 << esc(kOnly24);
    QTest::newRow("empty marked") << QStringList{"orig", "zig", ""} << false << 1 << notice + esc(kOnly24);
    QTest::newRow("8-bit original") << QStringList{kPalette, "zig", "mark"} << false << 1 << esc(kOnly24);
    QTest::newRow("missing original") << QStringList{"nema.bmp", "zig", "mark"} << false << 1 << error + "53" + rest;
    QTest::newRow("missing marked") << QStringList{"orig", "zig", "nema.bmp"} << false << 1 << error + "53" + rest;
    QTest::newRow("missing watermark") << QStringList{"orig", "nema.wmk", "mark"} << false << 1 << error + "53" + rest;
    QTest::newRow("missing folder") << QStringList{"/nema/takve/mape/slika.bmp", "zig", "mark"} << false << 1
                                    << error + "76" + rest;
    QTest::newRow("empty watermark path") << QStringList{"orig", "", "mark"} << false << 1 << error + "\\d+" + rest;
    QTest::newRow("marked of another size") << QStringList{"orig", "zig", "mali"} << false << 1
                                            << notice + error + "\\d+" + rest;
}

void TestGuiFlows::testVerdicts()
{
    QFETCH(QStringList, paths);
    QFETCH(bool, croatian);
    QFETCH(int, presses);
    QFETCH(QString, expected);
    const PictureRef original = texturedPicture(48, 40, 5);
    savePicture(*original, m_dir->filePath(QStringLiteral("orig")).toStdString());
    wmk(QStringLiteral("zig"));
    savePicture(*embedWatermark(*original, readWatermark(m_dir->filePath(QStringLiteral("zig")).toStdString())).marked,
                m_dir->filePath(QStringLiteral("mark")).toStdString());
    bmp(QStringLiteral("mali"), 20, 16, 9);
    for (QString& path : paths)
        if (!path.isEmpty() && !path.startsWith(QLatin1Char('/'))) path = m_dir->filePath(path);
    if (croatian) m_ui->locale = QLocale(QLocale::Croatian, QLocale::Croatia);
    runTest(paths, presses);
    const QString log = logText(*m_ui);
    QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(expected)).match(log).hasMatch(), qPrintable(log));
}

void TestGuiFlows::odaberiButtons_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("request");
    QTest::newRow("original image") << 0 << "open|Originalna slika|Bitmape (*.bmp)|";
    QTest::newRow("watermark") << 1 << "open|Originalni žig|Žig (*.wmk)|";
    QTest::newRow("marked image") << 2 << "open|Slika s žigom|Bitmape (*.bmp)|";
}

void TestGuiFlows::odaberiButtons()
{
    QFETCH(int, index);
    QFETCH(QString, request);
    const QString chosen = QStringLiteral("/neka/mapa/datoteka");
    withModal<FrmTest>(m_window->mnuTest, [&](FrmTest* test) {
        m_ui->answer(chosen);
        test->cmdOdaberi[index]->click();
        m_ui->cancel();
        test->cmdOdaberi[index]->click();  // a cancel keeps the text
        for (int i = 0; i < 3; ++i) QCOMPARE(test->txtParametar[i]->text(), i == index ? chosen : QString());
        test->cmdOdustani->click();
    });
    QCOMPARE(logText(*m_ui, true), request + kSep + request + chosen);
}

void TestGuiFlows::testDialogReopensEmpty()
{
    QPointer<FrmTest> first;
    for (int round = 0; round < 3; ++round)
        withModal<FrmTest>(m_window->mnuTest, [&](FrmTest* test) {
            for (int i = 0; i < 3; ++i) QCOMPARE(test->txtParametar[i]->text(), QString());
            for (int i = 0; i < 3; ++i) test->txtParametar[i]->setText(QStringLiteral("x"));
            if (round == 0) first = test;
            if (round == 1) test->close();  // the close box unloads it like "O&dustani"
            else test->cmdOdustani->click();
            QVERIFY(!test->isVisible());
        });
    QVERIFY(first.isNull());
    QVERIFY(m_ui->log.empty());
}

void TestGuiFlows::aboutBox()
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
            if (round == 1) about->close();
            else about->OKButton->click();
            QVERIFY(!about->isVisible());
        });
        QCOMPARE(shown.isNull(), round > 0);
    }
    QCOMPARE(texts.value(0), QStringLiteral("O programu"));
    QVERIFY(!texts.contains(QString()));
    QVERIFY(m_ui->log.empty());
}

void TestGuiFlows::exitClosesUnsavedWindowsWithoutAsking()
{
    FrmSlika* image = open(bmp(QStringLiteral("a.bmp")));
    QVERIFY(embed(image, wmk(QStringLiteral("a.wmk"))) != nullptr);
    QPointer<QMdiSubWindow> child = image;
    m_ui->log.clear();
    m_window->mnuIzlaz->trigger();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!m_window->isVisible());
    QVERIFY(child.isNull());
    QVERIFY(m_window->mdiArea()->subWindowList().isEmpty());
    QVERIFY(m_ui->log.empty());
}

void TestGuiFlows::imageWindowLayout()
{
    QCOMPARE(FrmSlika(*m_ui).windowTitle(), QStringLiteral("Form1"));  // until a picture is opened
    FrmSlika* window = open(bmp(QStringLiteral("raspored.bmp"), 300, 200));
    QVERIFY(window != nullptr);
    const std::pair<QSize, QPoint> cases[] = {
        {QSize(300, 200), QPoint(0, 0)},      // outer size equal to the picture's
        {QSize(500, 400), QPoint(100, 100)},  // (7500 - 4500) \ 2 = 1500 twips
        {QSize(301, 203), QPoint(0, 1)},      // 15 \ 2 = 7 twips -> 0 px; 45 \ 2 = 22 twips -> 1 px
        {QSize(200, 150), QPoint(-50, -25)},  // a larger picture is cut off equally
    };
    for (const auto& [outer, place] : cases) {
        window->resize(outer);
        QCOMPARE(window->size(), outer);
        QCOMPARE(window->picSlika()->pos(), place);
    }
}

void TestGuiFlows::everyFileChoiceStartsFromTheLastPath()
{
    const QString image = bmp(QStringLiteral("slika.bmp"));
    const QString watermark = m_dir->filePath(QStringLiteral("zig.wmk"));
    QVERIFY(open(image) != nullptr);
    withModal<FrmGen>(m_window->mnuGen, [&](FrmGen* gen) {
        m_ui->answer(watermark);
        gen->cmdOdaberi->click();
        gen->cmdOdustani->click();
    });
    m_ui->cancel();
    m_window->mnuSpremi->trigger();
    withModal<FrmTest>(m_window->mnuTest, [&](FrmTest* test) {
        m_ui->answer(image);
        test->cmdOdaberi[2]->click();
        m_ui->cancel();
        test->cmdOdaberi[1]->click();
        test->cmdOdustani->click();
    });
    m_ui->cancel();
    m_window->mnuEmbed->trigger();
    QCOMPARE(logText(*m_ui, true).split(kSep),
             (QStringList{QStringLiteral("open|Pelinor|Bitmape (*.bmp)|"),  // nothing chosen before the first
                          QStringLiteral("save|Pelinor|Žigovi (*.wmk)|") + image,
                          QStringLiteral("save|Pelinor|Bitmape (*.bmp)|") + watermark,
                          QStringLiteral("open|Slika s žigom|Bitmape (*.bmp)|") + watermark,
                          QStringLiteral("open|Originalni žig|Žig (*.wmk)|") + image,
                          QStringLiteral("open|Odabir vodenog žiga|Žig (*.wmk)|") + image}));  // a cancel keeps it
    QCOMPARE(m_window->cdlDat().fileName(), image);
}

QTEST_MAIN(TestGuiFlows)
#include "test_flows.moc"
