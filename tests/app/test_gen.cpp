// The generation dialog through the main window's command: its controls, the
// file it writes, its warnings, its lifecycle and numbers in the user's locale.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "app/frm_pocetak.h"
#include "app/twips.h"
#include "fake_ui.h"
#include "test_support.h"
#include "watermark/frm_gen.h"
#include "watermark/watermark_file.h"

using namespace pelinor;
using namespace pelinor::test;

class TestGenDialog : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void controlsAsDesigned();
    void defaultsGiveA105LineFile();
    void lengthsAndValues_data();
    void lengthsAndValues();
    void badFieldsWarnCloseAndWriteNothing_data();
    void badFieldsWarnCloseAndWriteNothing();
    void successKeepsTheDialogOpenAndOdustaniDiscardsIt();
    void closeBoxDiscardsIt();
    void odaberiFillsTheNameAndCancelLeavesIt();
    void decimalCommaLocale();
    void escapeAndEnterPressNothing();

private:
    // Opens the dialog from the menu and runs `script` on it.
    void withGen(const std::function<void(FrmGen*)>& script);
    std::vector<Recorded> messages() const { return m_ui->messages(); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeUi> m_ui;
    std::unique_ptr<MDIPocetak> m_window;
};

void TestGenDialog::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_ui = std::make_unique<FakeUi>();
    m_window = std::make_unique<MDIPocetak>(*m_ui);
    m_window->show();
}

void TestGenDialog::cleanup()
{
    m_window.reset();
    flushDeletes();
    m_ui.reset();
    m_dir.reset();
}

void TestGenDialog::withGen(const std::function<void(FrmGen*)>& script)
{
    withModal<FrmGen>(*m_window, [&] { m_window->mnuGen->trigger(); }, script);
    flushDeletes();
}

void TestGenDialog::controlsAsDesigned()
{
    withGen([&](FrmGen* gen) {
        QCOMPARE(gen->windowTitle(), QStringLiteral("Generiranje žiga"));
        QVERIFY(gen->isModal());
        QCOMPARE(gen->size(), QSize(360, 256));  // 5400 x 3840 twips
        QCOMPARE(gen->minimumSize(), gen->maximumSize());
        QCOMPARE(gen->picGen->geometry(), twipsRect(0, 0, 5295, 3735, gen));
        const char* const labels[5] = {"Veličina žiga:", "Alfa faktor:", "Srednja vrijednost:", "Devijacija:",
                                       "Naziv datoteke:"};
        for (int i = 0; i < 5; ++i) QCOMPARE(gen->Label1[i]->text(), QString::fromUtf8(labels[i]));
        QCOMPARE(gen->txtImeDat->text(), QString());
        QCOMPARE(gen->txtVelicina->text(), QStringLiteral("100"));
        QCOMPARE(gen->txtAlfa->text(), QStringLiteral("0.3"));
        QCOMPARE(gen->txtSrednjaVrije->text(), QStringLiteral("0"));
        QCOMPARE(gen->txtDev->text(), QStringLiteral("1"));
        QCOMPARE(gen->cmdOdaberi->text(), QStringLiteral("&Odaberi"));
        QCOMPARE(gen->cmdGen->text(), QStringLiteral("&Generiraj"));
        QCOMPARE(gen->cmdOdustani->text(), QStringLiteral("O&dustani"));
        QCOMPARE(gen->txtImeDat->geometry(), twipsRect(240, 480, 3615, 315, gen));
        QCOMPARE(gen->cmdGen->geometry(), twipsRect(720, 3120, 1695, 495, gen));
        // Tab order from cmdGen on.
        const QList<QWidget*> order = {gen->cmdGen,     gen->txtDev,    gen->txtSrednjaVrije, gen->txtAlfa,
                                       gen->txtVelicina, gen->cmdOdaberi, gen->txtImeDat,       gen->cmdOdustani};
        for (qsizetype i = 0; i + 1 < order.size(); ++i)
            QCOMPARE(order[i]->nextInFocusChain(), order[i + 1]);
        for (QPushButton* button : {gen->cmdOdaberi, gen->cmdGen, gen->cmdOdustani})
            QVERIFY(!button->isDefault() && !button->autoDefault());
        gen->cmdOdustani->click();
    });
}

void TestGenDialog::defaultsGiveA105LineFile()
{
    const QString path = m_dir->filePath(QStringLiteral("zig.wmk"));
    withGen([&](FrmGen* gen) {
        gen->txtImeDat->setText(path);
        gen->cmdGen->click();
        QVERIFY(gen->isVisible());
        gen->cmdOdustani->click();
    });
    const QStringList lines = readLines(path);
    QCOMPARE(lines.size(), 105);
    QCOMPARE(lines[0], QStringLiteral("\"CXSG\""));
    QCOMPARE(lines[1], QStringLiteral("100"));
    QCOMPARE(lines[2].toDouble(), 0.3);
    QCOMPARE(lines[3], QStringLiteral("0"));
    QCOMPARE(lines[4], QStringLiteral("1"));
    const auto shown = messages();
    QCOMPARE(shown.size(), std::size_t(1));
    QCOMPARE(shown[0].text, QStringLiteral("Generiranje žiga je uspješno obavljeno."));
    QCOMPARE(shown[0].icon, MessageIcon::Information);
    QCOMPARE(shown[0].title, QStringLiteral("Pelinor"));
}

void TestGenDialog::lengthsAndValues_data()
{
    QTest::addColumn<QString>("length");
    QTest::addColumn<int>("values");
    QTest::newRow("odd") << "7" << 7;
    QTest::newRow("one") << "1" << 1;
    QTest::newRow("zero") << "0" << 0;
    QTest::newRow("negative") << "-5" << 0;
    QTest::newRow("fraction half to even") << "2.5" << 2;
    QTest::newRow("fraction rounds") << "3.5" << 4;
}

void TestGenDialog::lengthsAndValues()
{
    QFETCH(QString, length);
    QFETCH(int, values);
    const QString path = m_dir->filePath(QStringLiteral("n.wmk"));
    withGen([&](FrmGen* gen) {
        gen->txtImeDat->setText(path);
        gen->txtVelicina->setText(length);
        gen->cmdGen->click();
        gen->cmdOdustani->click();
    });
    const QStringList lines = readLines(path);
    QCOMPARE(lines.size(), 5 + values);
    for (const QString& line : lines) QVERIFY(!line.startsWith(QLatin1Char(' ')));
    QCOMPARE(messages().back().text, QStringLiteral("Generiranje žiga je uspješno obavljeno."));
}

void TestGenDialog::badFieldsWarnCloseAndWriteNothing_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("emptyName");
    QTest::newRow("letters in the length") << "txtVelicina" << "sto" << false;
    QTest::newRow("letters in alpha") << "txtAlfa" << "abc" << false;
    QTest::newRow("letters in the mean") << "txtSrednjaVrije" << "x" << false;
    QTest::newRow("letters in the deviation") << "txtDev" << "jedan" << false;
    QTest::newRow("length beyond 32 bits") << "txtVelicina" << "3000000000" << false;
    QTest::newRow("empty number") << "txtAlfa" << "" << false;
    QTest::newRow("empty file name") << "" << "" << true;
}

void TestGenDialog::badFieldsWarnCloseAndWriteNothing()
{
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(bool, emptyName);
    const QString path = m_dir->filePath(QStringLiteral("postojeci.wmk"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("staro");
    }
    QPointer<FrmGen> dialog;
    withGen([&](FrmGen* gen) {
        dialog = gen;
        if (!emptyName) gen->txtImeDat->setText(path);
        if (!field.isEmpty()) gen->findChild<QLineEdit*>(field)->setText(text);
        gen->cmdGen->click();
        QVERIFY(!gen->isVisible());  // the failure closes the dialog
    });
    QVERIFY(dialog.isNull());  // and discards it
    const auto shown = messages();
    QCOMPARE(shown.size(), std::size_t(1));
    QCOMPARE(shown[0].text, QStringLiteral("Nepravilno zadane vrijednosti parametara za generiranje žiga"));
    QCOMPARE(shown[0].icon, MessageIcon::Warning);
    QCOMPARE(shown[0].title, QStringLiteral("Pelinor"));
    QCOMPARE(readAll(path), QByteArray("staro"));  // no file created or changed
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files).size(), 1);
}

void TestGenDialog::successKeepsTheDialogOpenAndOdustaniDiscardsIt()
{
    const QString path = m_dir->filePath(QStringLiteral("a.wmk"));
    QPointer<FrmGen> first;
    withGen([&](FrmGen* gen) {
        first = gen;
        gen->txtImeDat->setText(path);
        gen->txtVelicina->setText(QStringLiteral("10"));
        gen->cmdGen->click();
        QVERIFY(gen->isVisible());
        QCOMPARE(gen->txtVelicina->text(), QStringLiteral("10"));  // values stay as typed
        const QStringList once = readLines(path);
        gen->cmdGen->click();  // again: a new sequence from the clock
        QCOMPARE(readLines(path).size(), 15);
        QVERIFY(readLines(path).mid(5) != once.mid(5));
        gen->cmdOdustani->click();
    });
    QVERIFY(first.isNull());
    QCOMPARE(messages().size(), std::size_t(2));
    withGen([&](FrmGen* gen) {
        QCOMPARE(gen->txtImeDat->text(), QString());
        QCOMPARE(gen->txtVelicina->text(), QStringLiteral("100"));
        gen->cmdOdustani->click();
    });
}

void TestGenDialog::closeBoxDiscardsIt()
{
    QPointer<FrmGen> first;
    withGen([&](FrmGen* gen) {
        first = gen;
        gen->txtVelicina->setText(QStringLiteral("55"));
        gen->close();
    });
    QVERIFY(first.isNull());
    withGen([&](FrmGen* gen) {
        QCOMPARE(gen->txtVelicina->text(), QStringLiteral("100"));
        gen->close();
    });
    QVERIFY(m_ui->log.empty());
}

void TestGenDialog::odaberiFillsTheNameAndCancelLeavesIt()
{
    const QString chosen = m_dir->filePath(QStringLiteral("bez nastavka"));
    withGen([&](FrmGen* gen) {
        gen->txtImeDat->setText(QStringLiteral("tipkano.wmk"));
        m_ui->cancel();
        gen->cmdOdaberi->click();
        QCOMPARE(gen->txtImeDat->text(), QStringLiteral("tipkano.wmk"));
        m_ui->answer(chosen);
        gen->cmdOdaberi->click();
        QCOMPARE(gen->txtImeDat->text(), chosen);  // as given: no extension added
        gen->cmdGen->click();
        gen->cmdOdustani->click();
    });
    QVERIFY(QFile::exists(chosen));
    const auto dialogs = m_ui->dialogs();
    QCOMPARE(dialogs.size(), std::size_t(2));
    QCOMPARE(dialogs[0].request.mode, FileDialogMode::Save);
    QCOMPARE(dialogs[0].request.title, QStringLiteral("Pelinor"));
    QCOMPARE(dialogs[0].request.filter, QStringLiteral("Žigovi (*.wmk)"));
    QCOMPARE(messages().size(), std::size_t(1));
}

void TestGenDialog::decimalCommaLocale()
{
    m_ui->locale = QLocale(QLocale::Croatian, QLocale::Croatia);
    const QString path = m_dir->filePath(QStringLiteral("zarez.wmk"));
    withGen([&](FrmGen* gen) {
        QCOMPARE(gen->txtAlfa->text(), QStringLiteral("0,3"));  // the initial alpha in the user's notation
        gen->txtImeDat->setText(path);
        gen->txtVelicina->setText(QStringLiteral("4"));
        gen->cmdGen->click();
        QCOMPARE(readLines(path).value(2), QStringLiteral("0.3"));
        gen->txtAlfa->setText(QStringLiteral("0,25"));
        gen->txtSrednjaVrije->setText(QStringLiteral("-1,5"));
        gen->txtDev->setText(QStringLiteral("2,5"));
        gen->cmdGen->click();
        gen->cmdOdustani->click();
    });
    const QStringList lines = readLines(path);
    QCOMPARE(lines.size(), 9);
    QCOMPARE(lines[2], QStringLiteral("0.25"));
    QCOMPARE(lines[3], QStringLiteral("-1.5"));
    QCOMPARE(lines[4], QStringLiteral("2.5"));
    for (const QString& line : lines) {
        QVERIFY(!line.startsWith(QLatin1Char(' ')));
        QVERIFY(!line.contains(QLatin1Char(',')));
    }
    // A period is not this locale's decimal separator: the warning, no change.
    withGen([&](FrmGen* gen) {
        gen->txtImeDat->setText(path);
        gen->txtAlfa->setText(QStringLiteral("0.3"));
        gen->cmdGen->click();
    });
    QCOMPARE(messages().back().text, QStringLiteral("Nepravilno zadane vrijednosti parametara za generiranje žiga"));
    QCOMPARE(readLines(path).size(), 9);
}

void TestGenDialog::escapeAndEnterPressNothing()
{
    withGen([&](FrmGen* gen) {
        gen->txtImeDat->setText(m_dir->filePath(QStringLiteral("enter.wmk")));
        QTest::keyClick(gen->txtDev, Qt::Key_Return);
        QTest::keyClick(gen->txtDev, Qt::Key_Escape);
        QVERIFY(gen->isVisible());
        gen->cmdOdustani->click();
    });
    QVERIFY(m_ui->log.empty());
    QVERIFY(!QFile::exists(m_dir->filePath(QStringLiteral("enter.wmk"))));
}

QTEST_MAIN(TestGenDialog)
#include "test_gen.moc"
