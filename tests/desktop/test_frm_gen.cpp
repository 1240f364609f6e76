// frmGen, the generation dialog: the numbers it takes, the file it writes, what it
// says when it cannot, and when it closes.
#include "desktop/windows/frm_gen.h"
#include "tests/desktop/gui_support.h"

#include <QDir>
#include <QLineEdit>
#include <QPushButton>

using namespace pelinor;
using namespace pelinor::guitest;
using namespace Qt::StringLiterals;

namespace {

const QString kGenWarning = u"W|Pelinor|Nepravilno zadane vrijednosti parametara za generiranje žiga"_s;
const QString kGenDone = u"I|Pelinor|Generiranje žiga je uspješno obavljeno."_s;

} // namespace

class TestFrmGen : public QObject, public GuiFixture {
    Q_OBJECT

private slots:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

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
        // An existing watermark file, replaced without a question.
        const QString path = m_dir->filePath(u"postojeci.wmk"_s);
        const QByteArray old("\"CXSG\"\r\n1\r\n0.3\r\n0\r\n1\r\n0.5\r\n");
        writeFile(path, old);
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
            QCOMPARE(readAll(path), old); // nothing written or created
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

    // The shared dialog may offer the photograph just opened: a file that is not a
    // watermark file is replaced only on a Yes (the default is No), and a No keeps the
    // dialog open with everything typed.
    void generationAsksBeforeReplacingOtherFiles_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("existing"); // "-": no file
        QTest::addColumn<QList<bool>>("replies");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<bool>("written");
        const QByteArray watermark("\"CXSG\"\r\n1\r\n0.3\r\n0\r\n1\r\n0.5\r\n");
        QTest::newRow("picture kept by default")
            << "photo.bmp" << QByteArray() << QList<bool>() << true << false;
        QTest::newRow("picture kept on No")
            << "photo.bmp" << QByteArray() << QList<bool>{false} << true << false;
        QTest::newRow("picture replaced on Yes")
            << "photo.bmp" << QByteArray() << QList<bool>{true} << true << true;
        QTest::newRow("text file kept")
            << "opis.txt" << QByteArray("moj tekst\n") << QList<bool>() << true << false;
        QTest::newRow("empty file kept")
            << "prazna.wmk" << QByteArray("", 0) << QList<bool>() << true << false;
        QTest::newRow("watermark file replaced")
            << "stari.wmk" << watermark << QList<bool>() << false << true;
        QTest::newRow("new file") << "novi.wmk" << QByteArray("-") << QList<bool>() << false << true;
    }

    void generationAsksBeforeReplacingOtherFiles()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, existing);
        QFETCH(QList<bool>, replies);
        QFETCH(bool, asked);
        QFETCH(bool, written);
        const QString target = name == u"photo.bmp"_s ? bmp(name) : m_dir->filePath(name);
        if (existing != "-" && name != u"photo.bmp"_s) writeFile(target, existing);
        const QByteArray before = readAll(target);
        m_ui->replies = replies;
        withModal<FrmGen>(m_window->mnuGen, [&](FrmGen* gen) {
            gen->txtImeDat->setText(target);
            gen->txtVelicina->setText(u"3"_s);
            gen->cmdGen->click();
            QVERIFY(gen->isVisible());
            QCOMPARE(gen->txtImeDat->text(), target);
            QCOMPARE(gen->txtVelicina->text(), u"3"_s);
        });
        const QString question = u"Q|Pelinor|Datoteka "_s + target
            + u" već postoji i nije datoteka žiga.\nŽelite li je zamijeniti žigom?"_s;
        QStringList expected;
        if (asked) expected << question;
        if (written) expected << kGenDone;
        QCOMPARE(m_ui->text(), expected.join(kSep));
        QVERIFY(m_ui->replies.isEmpty());
        if (written) {
            QCOMPARE(readLines(target).size(), 8);
        } else {
            QCOMPARE(readAll(target), before);
        }
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
};

QTEST_MAIN(TestFrmGen)
#include "test_frm_gen.moc"
