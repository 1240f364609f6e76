// MDIPocetak, the main window, and frmDialog, the about box: the start, the menu tree,
// the open, save and embed commands with their failures and questions, the shared file
// dialog's last path, and the exit.
#include "desktop/app/frm_dialog.h"
#include "desktop/windows/frm_gen.h"
#include "desktop/windows/frm_test.h"
#include "image/codecs/codecs.h"
#include "image/image_io.h"
#include "tests/desktop/gui_support.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <sys/stat.h>

using namespace pelinor;
using namespace pelinor::guitest;
using namespace Qt::StringLiterals;

namespace {

// The question before a save replaces a file that is not a picture.
QString replaceQuestion(const QString& path)
{
    return u"Q|Pelinor|Datoteka "_s + path + u" već postoji i nije slika.\nŽelite li je zamijeniti slikom?"_s;
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

} // namespace

class TestMdiPocetak : public QObject, public GuiFixture {
    Q_OBJECT

private slots:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

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
        // Told from the header alone: a picture over the pixel budget is still a picture.
        QFile bomb(
            QStringLiteral(PELINOR_SOURCE_DIR "/tests/regressions/bmp_rle8_604mb_canvas_from_1kb_file.bmp"));
        QVERIFY(bomb.open(QIODevice::ReadOnly));
        QTest::newRow("picture over the budget replaced")
            << "velika.bmp" << bomb.readAll() << false << QList<bool>() << false << true;
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

    // One 10.5-megapixel JPEG opened 12 times reached 1 GB, each window limited on its own:
    // the image windows share one budget. Pictures open while they fit; the one that would
    // exceed it is refused from its header, naming the budget and what the windows hold, and
    // a marked copy is refused before embedding, naming the picture. Closing a window gives
    // its pixels back at once.
    void imageWindowsShareOnePixelBudget()
    {
        m_window = std::make_unique<MDIPocetak>(*m_ui, nullptr, 2'500'000);
        m_window->show();
        const PixelBudget& budget = m_window->pixelBudget();
        const QString mega = bmp(u"megapiksel.bmp"_s, 1000, 1000);
        const QString key = wmk(u"oznaka.wmk"_s);
        const auto refusal = [&](const QString& what, const QString& label, const QString& name,
                                 const QString& held) {
            return u"W|Pelinor|"_s + what + u"\n\n"_s + label + u": "_s + name
                + u"\nRazlog: slika od 1 megapiksela ne stane u granicu od 2,5 megapiksela za sve prozore: "
                  u"otvoreni prozori već drže "_s
                + held + u" megapiksela (zatvorite neki od njih) (pogreška 1007)."_s;
        };
        FrmSlika* first = open(mega);
        FrmSlika* second = open(mega);
        QVERIFY(first != nullptr && second != nullptr);
        QCOMPARE(first->heldPixels(), 1'000'000);
        QCOMPARE(budget.used(), 2'000'000);
        QCOMPARE(m_ui->text(), QString());

        QVERIFY(open(mega) == nullptr);
        QCOMPARE(m_ui->text(), refusal(u"Slika se ne može otvoriti."_s, u"Datoteka"_s, mega, u"2"_s));
        QCOMPARE(m_window->mdiArea()->subWindowList().size(), 2);
        QCOMPARE(budget.used(), 2'000'000);
        // What still fits opens.
        FrmSlika* small = open(bmp(u"mala.bmp"_s, 500, 400));
        QVERIFY(small != nullptr);
        QCOMPARE(budget.used(), 2'200'000);

        m_ui->log.clear();
        QVERIFY(run(m_window->mnuEmbed, key, first) == nullptr);
        QCOMPARE(
            m_ui->text(), refusal(u"Žig se ne može umetnuti."_s, u"Slika"_s, mega, u"2,2"_s)); // no notice
        QCOMPARE(budget.used(), 2'200'000);

        second->close();
        QCOMPARE(budget.used(), 1'200'000);
        m_ui->log.clear();
        FrmSlika* marked = run(m_window->mnuEmbed, key, first);
        QVERIFY(marked != nullptr);
        QCOMPARE(marked->heldPixels(), 1'000'000);
        QCOMPARE(budget.used(), 2'200'000);
        QVERIFY(open(mega) == nullptr);

        m_window->mdiArea()->closeAllSubWindows();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(budget.used(), 0);
        QCOMPARE(budget.peak(), 2'200'000);
        QVERIFY(open(mega) != nullptr);
        QVERIFY(open(mega) != nullptr);
        QCOMPARE(budget.used(), 2'000'000);
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
                u"open|Slika s žigom|"_s + kPictures + u"|"_s + watermark, // every format, bitmaps first
                u"open|Originalni žig|Žig (*.wmk)|"_s + image,
                u"open|Originalna slika|"_s + kPictures + u"|"_s + image, // a cancel keeps the path
                u"open|Odabir vodenog žiga|Žig (*.wmk)|"_s + original}));
        QCOMPARE(m_window->cdlDat().fileName(), original);
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
};

QTEST_MAIN(TestMdiPocetak)
#include "test_frm_pocetak.moc"
