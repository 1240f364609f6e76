// The main window and its commands end to end on real files: start-up, the menu
// tree, open, save, the shared file dialog's last path, exit, the about box and
// the image window's layout.
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "app/frm_dialog.h"
#include "app/frm_pocetak.h"
#include "app/picture_area.h"
#include "app/twips.h"
#include "fake_ui.h"
#include "image/frm_slika.h"
#include "image/image_io.h"
#include "test_support.h"
#include "watermark/frm_gen.h"
#include "watermark/frm_test.h"

using namespace pelinor;
using namespace pelinor::test;

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void startsEmptyCentredWithItsClientArea();
    void menuTree();
    void openTwiceGivesTwoIndependentWindows();
    void failedOpenIsReportedAndLeavesNoWindow_data();
    void failedOpenIsReportedAndLeavesNoWindow();
    void cancellingIsSilent();
    void saveWritesTheShownPictureAsTyped();
    void saveOverwritesAnExistingFile();
    void failedSaveIsReported();
    void saveAndEmbedWithoutAnImageWindowDoNothing();
    void everyFileChoiceStartsFromTheLastPath();
    void exitClosesEverythingWithoutAsking();
    void aboutBoxTwiceShowsTheSameTexts();
    void aboutBoxCloseBoxUnloadsIt();
    void imageWindowLayoutRule();
    void newImageWindowIsCaptionedForm1();

private:
    FrmSlika* open(const QString& path);
    QString bmp(const QString& name, int width = 40, int height = 30, unsigned seed = 1);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeUi> m_ui;
    std::unique_ptr<MDIPocetak> m_window;
};

void TestMainWindow::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_ui = std::make_unique<FakeUi>();
    m_window = std::make_unique<MDIPocetak>(*m_ui);
    m_window->show();
}

void TestMainWindow::cleanup()
{
    m_window.reset();
    flushDeletes();
    m_ui.reset();
    m_dir.reset();
}

FrmSlika* TestMainWindow::open(const QString& path)
{
    const qsizetype before = m_window->mdiArea()->subWindowList().size();
    m_ui->answer(path);
    m_window->mnuOtvori->trigger();
    if (m_window->mdiArea()->subWindowList().size() != before + 1) return nullptr;
    return m_window->activeImageWindow();
}

QString TestMainWindow::bmp(const QString& name, int width, int height, unsigned seed)
{
    const QString path = m_dir->filePath(name);
    writeTexturedBmp(path, width, height, seed);
    return path;
}

void TestMainWindow::startsEmptyCentredWithItsClientArea()
{
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Pelinor"));
    QVERIFY(m_window->mdiArea()->subWindowList().isEmpty());
    QCOMPARE(m_window->mdiArea()->size(), QSize(674, 427));  // 10110 x 6405 twips
    const QPoint screenCentre = m_window->screen()->availableGeometry().center();
    QVERIFY2((m_window->frameGeometry().center() - screenCentre).manhattanLength() <= 2,
             qPrintable(QStringLiteral("%1,%2 vs %3,%4").arg(m_window->frameGeometry().center().x()).arg(m_window->frameGeometry().center().y()).arg(screenCentre.x()).arg(screenCentre.y())));
    QVERIFY(m_window->findChild<FrmDialog*>() == nullptr);
    QVERIFY(m_window->findChild<FrmGen*>() == nullptr);
    QVERIFY(m_window->findChild<FrmTest*>() == nullptr);
    QVERIFY(m_ui->log.empty());
}

void TestMainWindow::menuTree()
{
    const QList<QAction*> top = m_window->menuBar()->actions();
    QCOMPARE(top.size(), 3);
    QCOMPARE(top[0]->text(), QStringLiteral("&Datoteka"));
    QCOMPARE(top[1]->text(), QStringLiteral("&Pelinor"));
    QCOMPARE(top[2]->text(), QStringLiteral("&O programu"));
    QVERIFY(top[2]->menu() == nullptr);  // acts on click
    QCOMPARE(top[2], m_window->mnuAbout);

    const QList<QAction*> file = top[0]->menu()->actions();
    QCOMPARE(file.size(), 4);
    QCOMPARE(file[0]->text(), QStringLiteral("&Otvori"));
    QCOMPARE(file[1]->text(), QStringLiteral("&Spremi"));
    QVERIFY(file[2]->isSeparator());
    QCOMPARE(file[3]->text(), QStringLiteral("I&zlaz"));

    const QList<QAction*> wm = top[1]->menu()->actions();
    QCOMPARE(wm.size(), 1);
    QCOMPARE(wm[0]->text(), QStringLiteral("Co&x et al. algoritam"));
    QVERIFY(wm[0]->menu() != nullptr);
    const QList<QAction*> cox = wm[0]->menu()->actions();
    QCOMPARE(cox.size(), 3);
    QCOMPARE(cox[0]->text(), QStringLiteral("&Generiranje žiga"));
    QCOMPARE(cox[1]->text(), QStringLiteral("&Umetanje žiga"));
    QCOMPARE(cox[2]->text(), QStringLiteral("&Testiranje žiga"));

    const QList<QAction*> all = {file[0], file[1], file[3], cox[0], cox[1], cox[2], top[2]};
    for (QAction* action : all) QVERIFY2(action->shortcut().isEmpty(), qPrintable(action->text()));
}

void TestMainWindow::openTwiceGivesTwoIndependentWindows()
{
    const QString path = bmp(QStringLiteral("dva puta.bmp"));
    FrmSlika* first = open(path);
    FrmSlika* second = open(path);
    QVERIFY(first != nullptr && second != nullptr && first != second);
    QCOMPARE(first->windowTitle(), path);
    QCOMPARE(second->windowTitle(), path);
    QVERIFY(m_ui->messages().empty());

    const auto dialogs = m_ui->dialogs();
    QCOMPARE(dialogs.size(), std::size_t(2));
    QCOMPARE(dialogs[0].request.mode, FileDialogMode::Open);
    QCOMPARE(dialogs[0].request.title, QStringLiteral("Pelinor"));
    QCOMPARE(dialogs[0].request.filter, QStringLiteral("Bitmape (*.bmp)"));

    // Four distinct picture objects holding the same pixels.
    const PictureRef pictures[4] = {first->shownPicture(), first->workingPicture(), second->shownPicture(),
                                    second->workingPicture()};
    for (int i = 0; i < 4; ++i) {
        QVERIFY(pictures[i] != nullptr);
        for (int j = i + 1; j < 4; ++j) QVERIFY(pictures[i] != pictures[j]);
        QCOMPARE(pictures[i]->width(), 40);
        QCOMPARE(pictures[i]->height(), 30);
        QVERIFY(std::equal(pictures[i]->bits(), pictures[i]->bits() + pictures[i]->byteCount(),
                           pictures[0]->bits()));
    }
    QVERIFY(first->picSlika()->isVisible());
    QVERIFY(!first->picBuffer()->isVisible());
    QCOMPARE(first->picSlika()->size(), QSize(40, 30));
}

void TestMainWindow::failedOpenIsReportedAndLeavesNoWindow_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing file") << "nema.bmp" << QByteArray() << "datoteka ne postoji (pogreška 53)";
    QTest::newRow("not a picture") << "tekst.bmp" << QByteArray("ovo nije slika\r\n")
                                   << "datoteka nije slika koju program može pročitati (pogreška 481)";
}

void TestMainWindow::failedOpenIsReportedAndLeavesNoWindow()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);
    const QString path = m_dir->filePath(name);
    if (!content.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    QVERIFY(open(path) == nullptr);
    flushDeletes();
    QVERIFY(m_window->mdiArea()->subWindowList().isEmpty());
    const auto messages = m_ui->messages();
    QCOMPARE(messages.size(), std::size_t(1));
    QCOMPARE(messages[0].icon, MessageIcon::Warning);
    QCOMPARE(messages[0].title, QStringLiteral("Pelinor"));
    QCOMPARE(messages[0].text,
             QStringLiteral("Slika se ne može otvoriti.\n\nDatoteka: ") + path + QStringLiteral("\nRazlog: ") + reason +
                 QStringLiteral("."));
}

void TestMainWindow::cancellingIsSilent()
{
    open(bmp(QStringLiteral("a.bmp")));
    m_ui->clear();
    for (QAction* action : {m_window->mnuOtvori, m_window->mnuSpremi, m_window->mnuEmbed}) {
        m_ui->cancel();
        action->trigger();
    }
    QCOMPARE(m_ui->dialogs().size(), std::size_t(3));
    QVERIFY(m_ui->messages().empty());
    QCOMPARE(m_window->mdiArea()->subWindowList().size(), 1);
    QVERIFY(m_ui->answers.empty());
}

void TestMainWindow::saveWritesTheShownPictureAsTyped()
{
    FrmSlika* window = open(bmp(QStringLiteral("izvor.bmp")));
    QVERIFY(window != nullptr);
    const QString target = m_dir->filePath(QStringLiteral("bez nastavka"));
    m_ui->answer(target);
    m_window->mnuSpremi->trigger();
    QVERIFY(m_ui->messages().empty());
    const auto dialogs = m_ui->dialogs();
    QCOMPARE(dialogs.back().request.mode, FileDialogMode::Save);
    QCOMPARE(dialogs.back().request.title, QStringLiteral("Pelinor"));
    QCOMPARE(dialogs.back().request.filter, QStringLiteral("Bitmape (*.bmp)"));

    QVERIFY(!QFile::exists(target + QStringLiteral(".bmp")));  // no extension added
    const QByteArray written = readAll(target);
    const std::vector<std::uint8_t> expected = encodeBmp(*window->shownPicture());
    QCOMPARE(written, QByteArray(reinterpret_cast<const char*>(expected.data()), qsizetype(expected.size())));
    QVERIFY(written.startsWith("BM"));
    const PictureRef back = loadPicture(target.toStdString());
    QCOMPARE(back->bitsPerPixel(), 24);
    QCOMPARE(back->width(), 40);
}

void TestMainWindow::saveOverwritesAnExistingFile()
{
    FrmSlika* window = open(bmp(QStringLiteral("izvor.bmp")));
    QVERIFY(window != nullptr);
    const QString target = m_dir->filePath(QStringLiteral("postoji.bmp"));
    {
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(100000, 'x'));
    }
    m_ui->answer(target);
    m_window->mnuSpremi->trigger();
    QVERIFY(m_ui->messages().empty());
    const std::vector<std::uint8_t> expected = encodeBmp(*window->shownPicture());
    QCOMPARE(readAll(target).size(), qsizetype(expected.size()));
}

void TestMainWindow::failedSaveIsReported()
{
    QVERIFY(open(bmp(QStringLiteral("izvor.bmp"))) != nullptr);
    const QString target = m_dir->filePath(QStringLiteral("nema mape/slika.bmp"));
    m_ui->answer(target);
    m_window->mnuSpremi->trigger();
    const auto messages = m_ui->messages();
    QCOMPARE(messages.size(), std::size_t(1));
    QCOMPARE(messages[0].icon, MessageIcon::Warning);
    QCOMPARE(messages[0].title, QStringLiteral("Pelinor"));
    QVERIFY2(messages[0].text.startsWith(QStringLiteral("Slika se ne može spremiti.\n\nDatoteka: ") + target +
                                         QStringLiteral("\nRazlog: ")),
             qPrintable(messages[0].text));
    QVERIFY(!QFile::exists(target));
}

void TestMainWindow::saveAndEmbedWithoutAnImageWindowDoNothing()
{
    m_ui->answer(m_dir->filePath(QStringLiteral("x.bmp")));
    m_window->mnuSpremi->trigger();
    m_ui->answer(m_dir->filePath(QStringLiteral("x.wmk")));
    m_window->mnuEmbed->trigger();
    QCOMPARE(m_ui->dialogs().size(), std::size_t(2));  // the dialog still comes first
    QVERIFY(m_ui->messages().empty());
    QVERIFY(!QFile::exists(m_dir->filePath(QStringLiteral("x.bmp"))));
    QVERIFY(m_window->mdiArea()->subWindowList().isEmpty());
}

void TestMainWindow::everyFileChoiceStartsFromTheLastPath()
{
    const QString image = bmp(QStringLiteral("slika.bmp"));
    QVERIFY(open(image) != nullptr);
    const QString watermark = m_dir->filePath(QStringLiteral("zig.wmk"));

    // Generation dialog: its save dialog starts from the opened image; its choice
    // becomes the start of the next dialog anywhere.
    withModal<FrmGen>(*m_window, [&] { m_window->mnuGen->trigger(); },
                      [&](FrmGen* gen) {
                          m_ui->answer(watermark);
                          gen->cmdOdaberi->click();
                          QCOMPARE(gen->txtImeDat->text(), watermark);
                          gen->cmdOdustani->click();
                      });
    m_ui->cancel();
    m_window->mnuSpremi->trigger();
    // Test dialog: each of its choices starts from the last one too.
    withModal<FrmTest>(*m_window, [&] { m_window->mnuTest->trigger(); },
                       [&](FrmTest* test) {
                           m_ui->answer(image);
                           test->cmdOdaberi[2]->click();
                           m_ui->cancel();
                           test->cmdOdaberi[1]->click();
                           test->cmdOdustani->click();
                       });
    m_ui->cancel();
    m_window->mnuEmbed->trigger();

    const auto dialogs = m_ui->dialogs();
    QCOMPARE(dialogs.size(), std::size_t(6));
    QCOMPARE(dialogs[0].request.startPath, QString());  // nothing chosen before the first
    QCOMPARE(dialogs[1].request.startPath, image);
    QCOMPARE(dialogs[1].request.mode, FileDialogMode::Save);
    QCOMPARE(dialogs[1].request.filter, QStringLiteral("Žigovi (*.wmk)"));
    QCOMPARE(dialogs[2].request.startPath, watermark);  // save after the generation dialog
    QCOMPARE(dialogs[3].request.startPath, watermark);
    QCOMPARE(dialogs[4].request.startPath, image);      // after the test dialog's choice
    QCOMPARE(dialogs[5].request.startPath, image);      // a cancel keeps the path
    QCOMPARE(dialogs[5].request.title, QStringLiteral("Odabir vodenog žiga"));
    QCOMPARE(dialogs[5].request.filter, QStringLiteral("Žig (*.wmk)"));
    QCOMPARE(m_window->cdlDat().fileName(), image);
    QVERIFY(m_ui->messages().empty());
}

void TestMainWindow::exitClosesEverythingWithoutAsking()
{
    open(bmp(QStringLiteral("a.bmp")));
    open(bmp(QStringLiteral("b.bmp"), 20, 20, 2));
    QPointer<QMdiSubWindow> child = m_window->mdiArea()->subWindowList().front();
    QCOMPARE(m_window->mdiArea()->subWindowList().size(), 2);
    m_ui->clear();
    m_window->mnuIzlaz->trigger();
    flushDeletes();
    QVERIFY(!m_window->isVisible());
    QVERIFY(child.isNull());
    QVERIFY(m_window->mdiArea()->subWindowList().isEmpty());
    QVERIFY(m_ui->log.empty());
}

void TestMainWindow::aboutBoxTwiceShowsTheSameTexts()
{
    QPointer<FrmDialog> shown;
    for (int round = 0; round < 2; ++round) {
        withModal<FrmDialog>(*m_window, [&] { m_window->mnuAbout->trigger(); },
                             [&](FrmDialog* about) {
                                 if (round == 0) shown = about;
                                 QCOMPARE(about, shown.data());  // the same box, not a new one
                                 QCOMPARE(about->windowTitle(), QStringLiteral("O programu"));
                                 QCOMPARE(about->lblProgram->text(), QStringLiteral("Pelinor\nverzija 1.0"));
                                 QVERIFY(!about->lblAutor->text().isEmpty());
                                 QCOMPARE(about->Label1->text(), QStringLiteral("siječanj 2002."));
                                 QCOMPARE(about->OKButton->text(), QStringLiteral("OK"));
                                 QCOMPARE(about->size(), QSize(297, 176));  // 4455 x 2640 twips
                                 QCOMPARE(about->OKButton->geometry(), twipsRect(1620, 2040, 1215, 375, about));
                                 QVERIFY(about->lblProgram->alignment() & Qt::AlignHCenter);
                                 about->OKButton->click();
                                 QVERIFY(!about->isVisible());
                             });
        flushDeletes();
        QVERIFY(!shown.isNull());  // hidden, not destroyed
    }
    QVERIFY(m_ui->log.empty());
}

void TestMainWindow::aboutBoxCloseBoxUnloadsIt()
{
    QPointer<FrmDialog> first;
    withModal<FrmDialog>(*m_window, [&] { m_window->mnuAbout->trigger(); },
                         [&](FrmDialog* about) {
                             first = about;
                             about->close();
                         });
    flushDeletes();
    QVERIFY(first.isNull());
    withModal<FrmDialog>(*m_window, [&] { m_window->mnuAbout->trigger(); },
                         [&](FrmDialog* about) {
                             QCOMPARE(about->lblProgram->text(), QStringLiteral("Pelinor\nverzija 1.0"));
                             about->OKButton->click();
                         });
    QVERIFY(m_window->findChild<FrmDialog*>() != nullptr);
}

void TestMainWindow::imageWindowLayoutRule()
{
    FrmSlika* window = open(bmp(QStringLiteral("raspored.bmp"), 300, 200));
    QVERIFY(window != nullptr);
    struct Case {
        QSize outer;
        QPoint expected;  // pixels, from the rule in twips
    };
    const Case cases[] = {
        {QSize(300, 200), QPoint(0, 0)},      // outer size equal to the picture's
        {QSize(500, 400), QPoint(100, 100)},  // (7500-4500)\2 = 1500 twips
        {QSize(301, 203), QPoint(0, 1)},      // 15 \ 2 = 7 twips rounds to 0 px; 45 \ 2 = 22 twips -> 1 px
        {QSize(200, 150), QPoint(-50, -25)},  // picture larger than the window: cut off equally
    };
    for (const Case& c : cases) {
        window->resize(c.outer);
        QCOMPARE(window->size(), c.outer);
        QCOMPARE(window->picSlika()->pos(), c.expected);
    }
    // Called directly it gives the same place.
    window->picSlika()->move(3, 3);
    window->Form_Resize();
    QCOMPARE(window->picSlika()->pos(), QPoint(-50, -25));
}

void TestMainWindow::newImageWindowIsCaptionedForm1()
{
    FrmSlika window(*m_ui);
    QCOMPARE(window.windowTitle(), QStringLiteral("Form1"));
    QVERIFY(window.shownPicture() == nullptr);
    QCOMPARE(window.picSlika()->geometry(), twipsRect(240, 240, 7335, 7095, &window));
}

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
