// frmSlika, the image window: its layout rule, opening a file into two independent
// pictures, and embedding into new marked windows, with its refusals.
#include "desktop/toolkit/picture_area.h"
#include "desktop/windows/frm_slika.h"
#include "image/image_io.h"
#include "tests/desktop/gui_support.h"
#include "watermark/embed.h"
#include "watermark/strength.h"
#include "watermark/watermark_file.h"

#include <QMdiArea>

using namespace pelinor;
using namespace pelinor::guitest;
using namespace Qt::StringLiterals;

class TestFrmSlika : public QObject, public GuiFixture {
    Q_OBJECT

private slots:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

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
        // The plain embedding exactly, at the file's alpha, though it is far below the
        // command line's quality floor.
        const EmbedResult plain
            = embedWatermark(*loadPicture(image.toStdString()), readWatermark(watermark.toStdString()));
        const PictureRef original = loadPicture(image.toStdString());
        QVERIFY2(plain.psnr < kDefaultMinPsnr || banding(*original, *plain.marked) > kDefaultMaxBanding,
            qPrintable(QString::number(plain.psnr)));
        QCOMPARE(pixelsOf(first->shownPicture()), pixelsOf(plain.marked));
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

    // Embedding that cannot give a detectable mark is refused like any other failure, with
    // the real cause in Croatian, naming the watermark file or the picture, whichever is at
    // fault (an overflow is the watermark's numbers, a picture too small for it the picture's);
    // what can be known before the transforms is refused before the notice that they take long.
    void embedRefusalsAreReported_data()
    {
        QTest::addColumn<QString>("picture"); // "textured" 48 x 40, "thin" 1 x 40, "flat" 32 x 32
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("pictureAtFault");
        QTest::addColumn<bool>("afterNotice");
        QTest::addColumn<QString>("reason");
        const QByteArray head("\"CXSG\"\r\n");
        QByteArray manyValues = head + "2000\r\n0.3\r\n0\r\n1\r\n";
        for (int i = 0; i < 2000; ++i)
            manyValues += QByteArray::number(i % 7 - 3) + "\r\n";
        QByteArray hundred = head + "100\r\n0.3\r\n0\r\n1\r\n";
        for (int i = 0; i < 100; ++i)
            hundred += QByteArray::number(i % 5 - 2) + "\r\n";
        const QString tooFew
            = u"slika nema dovoljno koeficijenata različitih od nule za sve vrijednosti žiga (pogreška 1005)"_s;
        QTest::newRow("alpha 0") << "textured" << head + "1\r\n0\r\n0\r\n1\r\n0.5\r\n"
                                 << false << false << "alfa faktor žiga je 0 (pogreška 1003)";
        QTest::newRow("all values 0") << "textured" << head + "2\r\n0.3\r\n0\r\n1\r\n0\r\n0\r\n"
                                      << false << false << "sve vrijednosti žiga su 0 (pogreška 1004)";
        QTest::newRow("values overflow")
            << "textured" << head + "3\r\n0.3\r\n0\r\n1\r\n1E+308\r\n-1E+308\r\n1E+308\r\n"
            << false << true << "vrijednosti žiga prevelike su za računanje (pogreška 6)";
        QTest::newRow("more values than candidates") << "textured" << manyValues << true << false << tooFew;
        QTest::newRow("one pixel wide") << "thin" << hundred << true << false << tooFew;
        QTest::newRow("no non-zero coefficient") << "flat" << hundred << true << true << tooFew;
    }

    void embedRefusalsAreReported()
    {
        QFETCH(QString, picture);
        QFETCH(QByteArray, content);
        QFETCH(bool, pictureAtFault);
        QFETCH(bool, afterNotice);
        QFETCH(QString, reason);
        const QString file = m_dir->filePath(u"zig.wmk"_s);
        writeFile(file, content);
        QString image = m_dir->filePath(u"original.bmp"_s);
        if (picture == u"thin"_s)
            image = bmp(u"original.bmp"_s, 1, 40);
        else if (picture == u"flat"_s)
            savePicture(*Picture::create(32, 32), image.toStdString());
        else
            image = bmp(u"original.bmp"_s); // 48 x 40: 1833 candidates
        FrmSlika* source = open(image);
        QVERIFY(source != nullptr);
        m_ui->log.clear();
        QVERIFY(run(m_window->mnuEmbed, file, source) == nullptr);
        QCOMPARE(m_window->mdiArea()->subWindowList().size(), 1);
        const QString notice = u"I|Vazna obavijest|Umetanje žiga može potrajati. "_s + kCtrlAltDel + kSep
            + u"wait"_s + kSep + u"done"_s + kSep;
        QCOMPARE(m_ui->text(),
            (afterNotice ? notice : QString()) + u"W|Pelinor|Žig se ne može umetnuti.\n\n"_s
                + (pictureAtFault ? u"Slika: "_s + image : u"Datoteka: "_s + file) + u"\nRazlog: "_s + reason
                + u'.');
    }
};

QTEST_MAIN(TestFrmSlika)
#include "test_frm_slika.moc"
