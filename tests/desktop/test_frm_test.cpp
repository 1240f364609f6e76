// frmTest, the test dialog: the verdicts, the refusals and errors a test can end in,
// a resized copy registered onto its original, and the dialog's life.
#include "desktop/windows/frm_test.h"
#include "image/image_io.h"
#include "tests/desktop/gui_support.h"
#include "watermark/embed.h"
#include "watermark/watermark_file.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>

using namespace pelinor;
using namespace pelinor::guitest;
using namespace Qt::StringLiterals;

namespace {

const QString kRatio = u"I|Pelinor|Odnos sličnosti između originalnog i izvađenog žiga je "_s;

} // namespace

class TestFrmTest : public QObject, public GuiFixture {
    Q_OBJECT

private slots:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

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
        // Failures are Croatian only, naming the file concerned: no English text of the core.
        const auto failure = [&](const QString& file, const QString& reason) {
            return esc(u"C|Pelinor|Žig se ne može testirati.\n\n"_s) + u"Datoteka: [^\n¦]*"_s + esc(file)
                + esc(u"\nRazlog: "_s + reason + u'.');
        };
        const QString missing = u"datoteka ne postoji (pogreška 53)"_s;
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
            << QStringList{"nema.bmp", "zig", "mark"} << false << failure(u"/nema.bmp"_s, missing);
        QTest::newRow("missing marked")
            << QStringList{"orig", "zig", "nema.bmp"} << false << failure(u"/nema.bmp"_s, missing);
        QTest::newRow("missing watermark")
            << QStringList{"orig", "nema.wmk", "mark"} << false << failure(u"/nema.wmk"_s, missing);
        QTest::newRow("missing folder") << QStringList{"/nema/mape/slika.bmp", "zig",
            "mark"} << false << failure(u"/nema/mape/slika.bmp"_s, u"mapa ne postoji (pogreška 76)"_s);
        QTest::newRow("not a picture")
            << QStringList{"zig", "zig", "mark"} << false
            << failure(u"/zig"_s, u"datoteka nije slika koju program može pročitati (pogreška 481)"_s);
        const QString bomb
            = QStringLiteral(PELINOR_SOURCE_DIR "/tests/regressions/bmp_rle8_604mb_canvas_from_1kb_file.bmp");
        QTest::newRow("over the pixel budget")
            << QStringList{"orig", "zig", bomb} << false
            << failure(bomb,
                   u"slika od 50331653 x 4 piksela (201,3 megapiksela) veća je od granice od 150 megapiksela "
                   u"(pogreška 1007)"_s);
        // An empty box is named by its caption.
        QTest::newRow("empty watermark path")
            << QStringList{"orig", "", "mark"} << false
            << esc(u"C|Pelinor|Žig se ne može testirati.\n\nOriginalni žig: nije zadan\nRazlog: "_s)
                + u"[^\n¦]+ \\(pogreška \\d+\\)\\."_s;
        // A watermark that gives no similarity is refused before the notice, naming its file.
        QTest::newRow("alpha 0") << QStringList{"orig", "nula.wmk", "mark"} << false
                                 << failure(u"/nula.wmk"_s, u"alfa faktor žiga je 0 (pogreška 1003)"_s);
        // A picture of another size that is no copy of the original cannot be registered onto
        // it: the dialog answers in its own terms, not with an error.
        QTest::newRow("black picture of another size") << QStringList{"orig", "zig", "crna"} << false
                                                       << busy
                + esc(u"I|Pelinor|Slika s žigom nije kopija originalne slike (ne može se poravnati s njom).\n"
                      u"Označena slika ne sadrži žig."_s);
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
        writeFile(m_dir->filePath(u"nula.wmk"_s), "\"CXSG\"\r\n1\r\n0\r\n0\r\n1\r\n0.5\r\n");
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
};

QTEST_MAIN(TestFrmTest)
#include "test_frm_test.moc"
