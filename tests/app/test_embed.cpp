// The embed command end to end: the notice and the hourglass, the new marked
// window, source windows left untouched, the 8-bit refusal and reported failures.
#include <QMdiArea>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "app/frm_pocetak.h"
#include "app/picture_area.h"
#include "fake_ui.h"
#include "image/frm_slika.h"
#include "image/image_io.h"
#include "test_support.h"
#include "watermark/generator.h"

using namespace pelinor;
using namespace pelinor::test;

namespace {

const QString kNotice = QStringLiteral(
    "Umetanje žiga može potrajati. Rad programa se u trenutnoj verziji može prekinuti samo s CTRL-ALT-DEL. :)");

std::vector<std::uint8_t> pixelsOf(const PictureRef& picture)
{
    return std::vector<std::uint8_t>(picture->bits(), picture->bits() + picture->byteCount());
}

}  // namespace

class TestEmbed : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void embeddingShowsTheNoticeAndANewMarkedWindow();
    void secondEmbeddingLeavesTheFirstMarkedWindowAlone();
    void embeddingFromAMarkedWindowKeepsItsPicture();
    void eightBitPictureIsRefusedBeforeAnythingElse();
    void failedEmbeddingIsReported_data();
    void failedEmbeddingIsReported();
    void markedWindowSavesTheMarkedPicture();

private:
    FrmSlika* open(const QString& path);
    FrmSlika* embed(FrmSlika* source, const QString& watermark);
    QString watermarkFile(const QString& name, int length = 100, double alpha = 0.3);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeUi> m_ui;
    std::unique_ptr<MDIPocetak> m_window;
    QString m_image;
};

void TestEmbed::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_ui = std::make_unique<FakeUi>();
    m_window = std::make_unique<MDIPocetak>(*m_ui);
    m_window->show();
    m_image = m_dir->filePath(QStringLiteral("original.bmp"));
    writeTexturedBmp(m_image, 48, 40, 3);
}

void TestEmbed::cleanup()
{
    m_window.reset();
    flushDeletes();
    m_ui.reset();
    m_dir.reset();
}

FrmSlika* TestEmbed::open(const QString& path)
{
    m_ui->answer(path);
    m_window->mnuOtvori->trigger();
    return m_window->activeImageWindow();
}

FrmSlika* TestEmbed::embed(FrmSlika* source, const QString& watermark)
{
    m_window->mdiArea()->setActiveSubWindow(source);
    const qsizetype before = m_window->mdiArea()->subWindowList().size();
    m_ui->answer(watermark);
    m_window->mnuEmbed->trigger();
    if (m_window->mdiArea()->subWindowList().size() != before + 1) return nullptr;
    return m_window->activeImageWindow();
}

QString TestEmbed::watermarkFile(const QString& name, int length, double alpha)
{
    const QString path = m_dir->filePath(name);
    CoxGenMark(path.toStdString(), alpha, length, 12345, 0.0, 1.0);
    return path;
}

void TestEmbed::embeddingShowsTheNoticeAndANewMarkedWindow()
{
    FrmSlika* source = open(m_image);
    QVERIFY(source != nullptr);
    const std::vector<std::uint8_t> before = pixelsOf(source->shownPicture());
    const QString wmk = watermarkFile(QStringLiteral("zig.wmk"));
    m_ui->clear();

    FrmSlika* marked = embed(source, wmk);
    QVERIFY(marked != nullptr);
    QVERIFY(marked != source);
    QCOMPARE(marked->windowTitle(), QStringLiteral("Označena slika"));
    QVERIFY(marked->isVisible());
    QCOMPARE(m_window->activeImageWindow(), marked);

    // File dialog, notice, hourglass on and off, in that order, and nothing else.
    const auto& log = m_ui->log;
    QCOMPARE(log.size(), std::size_t(4));
    QCOMPARE(log[0].kind, Recorded::FileDialog);
    QCOMPARE(log[0].request.title, QStringLiteral("Odabir vodenog žiga"));
    QCOMPARE(log[0].request.filter, QStringLiteral("Žig (*.wmk)"));
    QCOMPARE(log[0].request.mode, FileDialogMode::Open);
    QCOMPARE(log[1].kind, Recorded::Message);
    QCOMPARE(log[1].text, kNotice);
    QCOMPARE(log[1].icon, MessageIcon::Information);
    QCOMPARE(log[1].title, QStringLiteral("Vazna obavijest"));
    QCOMPARE(log[1].waitDepth, 0);
    QCOMPARE(log[2].kind, Recorded::WaitOn);
    QCOMPARE(log[3].kind, Recorded::WaitOff);
    QCOMPARE(m_ui->waitDepth(), 0);

    // The marked window holds one picture twice; the source keeps its pixels and caption.
    QCOMPARE(marked->shownPicture(), marked->workingPicture());
    QVERIFY(marked->shownPicture() != source->shownPicture());
    QVERIFY(marked->shownPicture() != source->workingPicture());
    QCOMPARE(marked->shownPicture()->width(), 48);
    QVERIFY(pixelsOf(marked->shownPicture()) != before);
    QCOMPARE(pixelsOf(source->shownPicture()), before);
    QCOMPARE(pixelsOf(source->workingPicture()), before);
    QCOMPARE(source->windowTitle(), m_image);
    QCOMPARE(marked->picSlika()->size(), QSize(48, 40));
}

void TestEmbed::secondEmbeddingLeavesTheFirstMarkedWindowAlone()
{
    FrmSlika* source = open(m_image);
    FrmSlika* first = embed(source, watermarkFile(QStringLiteral("a.wmk")));
    QVERIFY(first != nullptr);
    const PictureRef firstPicture = first->shownPicture();
    const std::vector<std::uint8_t> firstPixels = pixelsOf(firstPicture);

    FrmSlika* second = embed(source, watermarkFile(QStringLiteral("b.wmk"), 150, 0.5));
    QVERIFY(second != nullptr);
    QVERIFY(second != first);
    QCOMPARE(first->shownPicture(), firstPicture);
    QCOMPARE(pixelsOf(first->shownPicture()), firstPixels);
    QVERIFY(second->shownPicture() != firstPicture);
    QVERIFY(pixelsOf(second->shownPicture()) != firstPixels);
    QCOMPARE(m_window->mdiArea()->subWindowList().size(), 3);
}

void TestEmbed::embeddingFromAMarkedWindowKeepsItsPicture()
{
    FrmSlika* source = open(m_image);
    FrmSlika* marked = embed(source, watermarkFile(QStringLiteral("a.wmk")));
    QVERIFY(marked != nullptr);
    const std::vector<std::uint8_t> markedPixels = pixelsOf(marked->shownPicture());
    FrmSlika* twice = embed(marked, watermarkFile(QStringLiteral("b.wmk")));
    QVERIFY(twice != nullptr);
    QCOMPARE(pixelsOf(marked->shownPicture()), markedPixels);
    QVERIFY(twice->shownPicture() != marked->shownPicture());
    QCOMPARE(twice->windowTitle(), QStringLiteral("Označena slika"));
}

void TestEmbed::eightBitPictureIsRefusedBeforeAnythingElse()
{
    const QString palette = m_dir->filePath(QStringLiteral("paleta.bmp"));
    write8BitBmp(palette, 16, 12);
    FrmSlika* source = open(palette);
    QVERIFY(source != nullptr);  // shown like any other picture
    QCOMPARE(source->shownPicture()->bitsPerPixel(), 8);
    m_ui->clear();
    // The watermark file does not even exist: the refusal comes before it is read.
    m_ui->answer(m_dir->filePath(QStringLiteral("nema.wmk")));
    m_window->mnuEmbed->trigger();
    const auto messages = m_ui->messages();
    QCOMPARE(messages.size(), std::size_t(1));
    QCOMPARE(messages[0].text, QStringLiteral(" 24-bit bitmaps only"));
    QCOMPARE(messages[0].icon, MessageIcon::Critical);
    QCOMPARE(messages[0].title, QStringLiteral("Pelinor"));
    QVERIFY(m_ui->ofKind(Recorded::WaitOn).empty());
    QCOMPARE(m_window->mdiArea()->subWindowList().size(), 1);
}

void TestEmbed::failedEmbeddingIsReported_data()
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

void TestEmbed::failedEmbeddingIsReported()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);
    const QString wmk = m_dir->filePath(QStringLiteral("los.wmk"));
    if (!content.isEmpty()) {
        QFile file(wmk);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    FrmSlika* source = open(m_image);
    m_ui->clear();
    QVERIFY(embed(source, wmk) == nullptr);
    const auto messages = m_ui->messages();
    QCOMPARE(messages.size(), std::size_t(1));  // no notice: the file is read first
    QCOMPARE(messages[0].icon, MessageIcon::Warning);
    QCOMPARE(messages[0].title, QStringLiteral("Pelinor"));
    QCOMPARE(messages[0].text, QStringLiteral("Žig se ne može umetnuti.\n\nDatoteka: ") + wmk +
                                   QStringLiteral("\nRazlog: ") + reason + QStringLiteral("."));
    QCOMPARE(m_ui->waitDepth(), 0);
}

void TestEmbed::markedWindowSavesTheMarkedPicture()
{
    FrmSlika* marked = embed(open(m_image), watermarkFile(QStringLiteral("a.wmk")));
    QVERIFY(marked != nullptr);
    const QString target = m_dir->filePath(QStringLiteral("oznacena.bmp"));
    m_ui->answer(target);
    m_window->mnuSpremi->trigger();
    const std::vector<std::uint8_t> expected = encodeBmp(*marked->shownPicture());
    QCOMPARE(readAll(target), QByteArray(reinterpret_cast<const char*>(expected.data()), qsizetype(expected.size())));
    QVERIFY(readAll(target) != readAll(m_image));
}

QTEST_MAIN(TestEmbed)
#include "test_embed.moc"
