// The test dialog through the main window's command: its controls, the three
// file choices, the verdict for a marked image, the order of refusals and
// errors, and its lifecycle.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "app/frm_pocetak.h"
#include "app/picture_area.h"
#include "app/twips.h"
#include "fake_ui.h"
#include "image/image_io.h"
#include "test_support.h"
#include "watermark/embed.h"
#include "watermark/frm_test.h"
#include "watermark/generator.h"
#include "watermark/watermark_file.h"

using namespace pelinor;
using namespace pelinor::test;

namespace {

const QString kNotice = QStringLiteral(
    "Testiranje žiga može potrajati. Rad programa se u trenutnoj verziji može prekinuti samo s CTRL-ALT-DEL. :)");
const QString kRatio = QStringLiteral("Odnos sličnosti između originalnog i izvađenog žiga je ");
const QString kFound = QStringLiteral("Žig je pronađen u označenoj slici.");
const QString kNotFound = QStringLiteral("Označena slika ne sadrži žig.");

}  // namespace

class TestTestDialog : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void controlsAsDesigned();
    void odaberiButtons_data();
    void odaberiButtons();
    void markedImageIsFound();
    void verdictUsesTheLocaleDecimalSeparator();
    void identicalImageIsNotFound();
    void emptyOriginalPathIsRefusedBeforeTheNotice();
    void emptyMarkedPathIsRefusedAfterTheNotice();
    void eightBitOriginalIsRefused();
    void errorsShowNumberAndText_data();
    void errorsShowNumberAndText();
    void odustaniAndReopeningStartsEmpty();

private:
    // Opens the dialog, types the three paths, presses "&Testiraj" `presses` times.
    void runTest(const QString& original, const QString& watermark, const QString& marked, int presses = 1);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeUi> m_ui;
    std::unique_ptr<MDIPocetak> m_window;
    QString m_original;
    QString m_watermark;
    QString m_marked;
};

void TestTestDialog::initTestCase()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_original = m_dir->filePath(QStringLiteral("original.bmp"));
    m_watermark = m_dir->filePath(QStringLiteral("zig.wmk"));
    m_marked = m_dir->filePath(QStringLiteral("oznacena.bmp"));
    const PictureRef original = texturedPicture(48, 40, 5);
    savePicture(*original, m_original.toStdString());
    CoxGenMark(m_watermark.toStdString(), 0.3, 100, 777, 0.0, 1.0);
    const EmbedResult marked = embedWatermark(*original, readWatermark(m_watermark.toStdString()));
    savePicture(*marked.marked, m_marked.toStdString());
}

void TestTestDialog::init()
{
    m_ui = std::make_unique<FakeUi>();
    m_window = std::make_unique<MDIPocetak>(*m_ui);
    m_window->show();
}

void TestTestDialog::cleanup()
{
    m_window.reset();
    flushDeletes();
    m_ui.reset();
}

void TestTestDialog::runTest(const QString& original, const QString& watermark, const QString& marked, int presses)
{
    withModal<FrmTest>(*m_window, [&] { m_window->mnuTest->trigger(); },
                       [&](FrmTest* test) {
                           test->txtParametar[0]->setText(original);
                           test->txtParametar[1]->setText(watermark);
                           test->txtParametar[2]->setText(marked);
                           for (int i = 0; i < presses; ++i) test->cmdTestiraj->click();
                           QVERIFY(test->isVisible());  // the dialog stays open with its texts
                           QCOMPARE(test->txtParametar[1]->text(), watermark);
                           test->cmdOdustani->click();
                       });
    flushDeletes();
}

void TestTestDialog::controlsAsDesigned()
{
    withModal<FrmTest>(*m_window, [&] { m_window->mnuTest->trigger(); },
                       [&](FrmTest* test) {
                           QCOMPARE(test->windowTitle(), QStringLiteral("Testiranje žiga"));
                           QVERIFY(test->isModal());
                           QCOMPARE(test->size(), QSize(406, 208));  // 6090 x 3120 twips
                           QVERIFY(test->minimumSize() != test->maximumSize());  // sizable
                           QVERIFY(test->windowFlags() & Qt::WindowMinimizeButtonHint);
                           QVERIFY(test->windowFlags() & Qt::WindowMaximizeButtonHint);
                           QCOMPARE(test->Label1->text(), QStringLiteral("Originalna slika:"));
                           QCOMPARE(test->Label2->text(), QStringLiteral("Originalni žig:"));
                           QCOMPARE(test->Label3->text(), QStringLiteral("Slika s žigom:"));
                           for (int i = 0; i < 3; ++i) {
                               QCOMPARE(test->txtParametar[i]->text(), QString());
                               QCOMPARE(test->txtParametar[i]->geometry(),
                                        twipsRect(240, 480 + 720 * i, 4215, 285, test));
                               QCOMPARE(test->cmdOdaberi[i]->text(), QStringLiteral("&Odaberi"));
                               QCOMPARE(test->cmdOdaberi[i]->geometry(),
                                        twipsRect(4680, 435 + 720 * i, 1215, 375, test));
                           }
                           QCOMPARE(test->cmdTestiraj->text(), QStringLiteral("&Testiraj"));
                           QCOMPARE(test->cmdOdustani->text(), QStringLiteral("O&dustani"));
                           QVERIFY(!test->picOriginal->isVisible());
                           QVERIFY(!test->picOznacena->isVisible());
                           const QList<QWidget*> order = {test->txtParametar[0], test->txtParametar[1],
                                                          test->txtParametar[2], test->cmdOdaberi[0],
                                                          test->cmdOdaberi[1],   test->cmdOdaberi[2],
                                                          test->cmdTestiraj,     test->cmdOdustani};
                           for (qsizetype i = 0; i + 1 < order.size(); ++i)
                               QCOMPARE(order[i]->nextInFocusChain(), order[i + 1]);
                           QTest::keyClick(test->txtParametar[0], Qt::Key_Escape);
                           QVERIFY(test->isVisible());  // no cancel button
                           test->cmdOdustani->click();
                       });
}

void TestTestDialog::odaberiButtons_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("filter");
    QTest::newRow("original image") << 0 << "Originalna slika" << "Bitmape (*.bmp)";
    QTest::newRow("watermark") << 1 << "Originalni žig" << "Žig (*.wmk)";
    QTest::newRow("marked image") << 2 << "Slika s žigom" << "Bitmape (*.bmp)";
}

void TestTestDialog::odaberiButtons()
{
    QFETCH(int, index);
    QFETCH(QString, title);
    QFETCH(QString, filter);
    withModal<FrmTest>(*m_window, [&] { m_window->mnuTest->trigger(); },
                       [&](FrmTest* test) {
                           m_ui->answer(QStringLiteral("/neka/mapa/datoteka"));
                           test->cmdOdaberi[index]->click();
                           for (int i = 0; i < 3; ++i)
                               QCOMPARE(test->txtParametar[i]->text(),
                                        i == index ? QStringLiteral("/neka/mapa/datoteka") : QString());
                           m_ui->cancel();
                           test->cmdOdaberi[index]->click();
                           QCOMPARE(test->txtParametar[index]->text(), QStringLiteral("/neka/mapa/datoteka"));
                           test->cmdOdustani->click();
                       });
    const auto dialogs = m_ui->dialogs();
    QCOMPARE(dialogs.size(), std::size_t(2));
    QCOMPARE(dialogs[0].request.title, title);
    QCOMPARE(dialogs[0].request.filter, filter);
    QCOMPARE(dialogs[0].request.mode, FileDialogMode::Open);
    QCOMPARE(dialogs[1].request.startPath, QStringLiteral("/neka/mapa/datoteka"));
    QVERIFY(m_ui->messages().empty());
}

void TestTestDialog::markedImageIsFound()
{
    runTest(m_original, m_watermark, m_marked, 2);
    const auto& log = m_ui->log;
    QCOMPARE(log.size(), std::size_t(8));  // the second press repeats the whole test
    for (int round = 0; round < 2; ++round) {
        const Recorded* entry = &log[std::size_t(4 * round)];
        QCOMPARE(entry[0].kind, Recorded::Message);
        QCOMPARE(entry[0].text, kNotice);
        QCOMPARE(entry[0].icon, MessageIcon::Information);
        QCOMPARE(entry[0].title, QStringLiteral("Vazna obavijest"));
        QCOMPARE(entry[1].kind, Recorded::WaitOn);
        QCOMPARE(entry[2].kind, Recorded::WaitOff);
        QCOMPARE(entry[3].kind, Recorded::Message);
        QCOMPARE(entry[3].icon, MessageIcon::Information);
        QCOMPARE(entry[3].title, QStringLiteral("Pelinor"));
        QCOMPARE(entry[3].waitDepth, 0);
        QVERIFY2(entry[3].text.startsWith(kRatio) && entry[3].text.endsWith(QLatin1Char('\n') + kFound),
                 qPrintable(entry[3].text));
        const QString number = entry[3].text.mid(kRatio.size()).section(QLatin1Char('\n'), 0, 0);
        bool ok = false;
        const double similarity = number.toDouble(&ok);
        QVERIFY2(ok && similarity > 0.9 && similarity <= 1.0, qPrintable(number));
    }
    QCOMPARE(log[3].text, log[7].text);
}

void TestTestDialog::verdictUsesTheLocaleDecimalSeparator()
{
    m_ui->locale = QLocale(QLocale::Croatian, QLocale::Croatia);
    runTest(m_original, m_watermark, m_marked);
    const QString text = m_ui->messages().back().text;
    QVERIFY2(text.startsWith(kRatio + QStringLiteral("0,9")), qPrintable(text));
    QVERIFY(!text.section(QLatin1Char('\n'), 0, 0).contains(QLatin1Char('.')));
}

void TestTestDialog::identicalImageIsNotFound()
{
    runTest(m_original, m_watermark, m_original);
    const auto messages = m_ui->messages();
    QCOMPARE(messages.size(), std::size_t(2));
    QCOMPARE(messages[1].text, kRatio + QStringLiteral("0\n") + kNotFound);
    QCOMPARE(messages[1].icon, MessageIcon::Information);
}

void TestTestDialog::emptyOriginalPathIsRefusedBeforeTheNotice()
{
    runTest(QString(), m_watermark, m_marked);
    const auto& log = m_ui->log;
    QCOMPARE(log.size(), std::size_t(1));
    QCOMPARE(log[0].text, QStringLiteral(" 24-bit bitmaps only"));
    QCOMPARE(log[0].icon, MessageIcon::Critical);
    QCOMPARE(log[0].title, QStringLiteral("Pelinor"));
}

void TestTestDialog::emptyMarkedPathIsRefusedAfterTheNotice()
{
    runTest(m_original, m_watermark, QString());
    const auto& log = m_ui->log;
    QCOMPARE(log.size(), std::size_t(4));
    QCOMPARE(log[0].text, kNotice);
    QCOMPARE(log[1].kind, Recorded::WaitOn);
    QCOMPARE(log[2].kind, Recorded::WaitOff);  // the pointer is back before the message
    QCOMPARE(log[3].text, QStringLiteral(" 24-bit bitmaps only"));
    QCOMPARE(log[3].icon, MessageIcon::Critical);
    QCOMPARE(log[3].waitDepth, 0);
}

void TestTestDialog::eightBitOriginalIsRefused()
{
    const QString palette = m_dir->filePath(QStringLiteral("paleta.bmp"));
    write8BitBmp(palette, 48, 40);
    runTest(palette, m_watermark, m_marked);
    QCOMPARE(m_ui->log.size(), std::size_t(1));
    QCOMPARE(m_ui->log[0].text, QStringLiteral(" 24-bit bitmaps only"));
}

void TestTestDialog::errorsShowNumberAndText_data()
{
    QTest::addColumn<QString>("original");
    QTest::addColumn<QString>("watermark");
    QTest::addColumn<QString>("marked");
    QTest::addColumn<int>("number");
    QTest::addColumn<bool>("afterNotice");
    const QString missing = m_dir->filePath(QStringLiteral("nema.bmp"));
    QTest::newRow("missing original") << missing << QString() << QString() << 53 << false;
    QTest::newRow("missing marked") << QString() << QString() << missing << 53 << false;
    QTest::newRow("missing watermark") << QString() << m_dir->filePath(QStringLiteral("nema.wmk")) << QString() << 53 << false;
    QTest::newRow("missing folder") << QStringLiteral("/nema/takve/mape/slika.bmp") << QString() << QString() << 76
                                    << false;
    QTest::newRow("empty watermark path") << QString() << QString() << QString() << -1 << false;
    QTest::newRow("marked of another size") << QString() << QString() << QStringLiteral("mali") << -1 << true;
}

void TestTestDialog::errorsShowNumberAndText()
{
    QFETCH(QString, original);
    QFETCH(QString, watermark);
    QFETCH(QString, marked);
    QFETCH(int, number);
    QFETCH(bool, afterNotice);
    if (original.isEmpty()) original = m_original;
    if (watermark.isEmpty() && QTest::currentDataTag() != QByteArray("empty watermark path")) watermark = m_watermark;
    if (marked.isEmpty()) marked = m_marked;
    if (marked == QLatin1String("mali")) {
        marked = m_dir->filePath(QStringLiteral("mali.bmp"));
        writeTexturedBmp(marked, 20, 16, 9);
    }
    runTest(original, watermark, marked);
    const auto messages = m_ui->messages();
    QCOMPARE(messages.size(), std::size_t(afterNotice ? 2 : 1));
    const Recorded& error = messages.back();
    QCOMPARE(error.icon, MessageIcon::Critical);
    QCOMPARE(error.title, QStringLiteral("Pelinor"));
    QCOMPARE(error.waitDepth, 0);
    QVERIFY2(error.text.startsWith(QStringLiteral("Pogreška ")), qPrintable(error.text));
    if (number > 0) QVERIFY2(error.text.startsWith(QStringLiteral("Pogreška %1:\n\n").arg(number)), qPrintable(error.text));
    QVERIFY(error.text.section(QStringLiteral("\n\n"), 1).size() > 5);  // the core's own text
    QCOMPARE(m_ui->waitDepth(), 0);
}

void TestTestDialog::odustaniAndReopeningStartsEmpty()
{
    QPointer<FrmTest> first;
    withModal<FrmTest>(*m_window, [&] { m_window->mnuTest->trigger(); },
                       [&](FrmTest* test) {
                           first = test;
                           for (int i = 0; i < 3; ++i) test->txtParametar[i]->setText(QStringLiteral("x"));
                           test->cmdOdustani->click();
                           QVERIFY(!test->isVisible());
                       });
    flushDeletes();
    QVERIFY(first.isNull());
    withModal<FrmTest>(*m_window, [&] { m_window->mnuTest->trigger(); },
                       [&](FrmTest* test) {
                           for (int i = 0; i < 3; ++i) QCOMPARE(test->txtParametar[i]->text(), QString());
                           test->txtParametar[0]->setText(QStringLiteral("y"));
                           test->close();  // the close box unloads it the same way
                       });
    flushDeletes();
    withModal<FrmTest>(*m_window, [&] { m_window->mnuTest->trigger(); },
                       [&](FrmTest* test) {
                           QCOMPARE(test->txtParametar[0]->text(), QString());
                           test->cmdOdustani->click();
                       });
    QVERIFY(m_ui->log.empty());
}

QTEST_MAIN(TestTestDialog)
#include "test_test_dialog.moc"
