// The desktop program's life on a desktop: its command line, Qt's texts in Croatian,
// files dropped on the main window, where new image windows appear, and the last file
// path kept from one run to the next. A stand-in for the user answers the file dialogs
// and keeps the stored path; the real settings file is checked once.
#include "desktop/app/frm_pocetak.h"
#include "desktop/app/startup.h"
#include "desktop/toolkit/ui_services.h"
#include "desktop/windows/frm_slika.h"
#include "image/image_io.h"
#include "watermark/generator.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMdiArea>
#include <QMimeData>
#include <QPushButton>
#include <QRegion>
#include <QScrollBar>
#include <QSettings>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <memory>
#include <optional>

using namespace pelinor;
using namespace Qt::StringLiterals;
using OptPoint = std::optional<QPoint>;
Q_DECLARE_METATYPE(OptPoint)

namespace {

// Answers file dialogs from a queue (an empty queue cancels), logs messages as
// "title|text", answers questions No, and keeps the stored path as the settings file would.
class StubUi final : public UiServices {
public:
    void message(QWidget*, const QString& text, MessageIcon, const QString& title) override
    {
        messages << title + u'|' + text;
    }
    bool ask(QWidget*, const QString& text, const QString& title) override
    {
        messages << title + u'|' + text;
        return false;
    }
    std::optional<QString> chooseFile(QWidget*, const FileDialogRequest& request) override
    {
        startPaths << request.startPath;
        return answers.isEmpty() ? std::nullopt : answers.takeFirst();
    }
    void beginWait() override { }
    void endWait() override { }
    QLocale numberLocale() const override { return QLocale::c(); }
    QString storedPath() const override { return stored; }
    void storePath(const QString& path) override { stored = path, ++stores; }

    QStringList messages;
    QStringList startPaths;
    QList<std::optional<QString>> answers;
    QString stored;
    int stores = 0;
};

QMimeData* filesData(const QStringList& paths)
{
    auto* data = new QMimeData;
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls << (path.contains(u"://"_s) ? QUrl(path) : QUrl::fromLocalFile(path));
    data->setUrls(urls);
    return data;
}

} // namespace

class TestDesktop : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<StubUi> m_ui;
    std::unique_ptr<MDIPocetak> m_window;

    QString picture(const QString& name, int width = 40, int height = 30)
    {
        const QString path = m_dir->filePath(name);
        const PictureRef made = Picture::create(width, height);
        for (std::size_t i = 0; i < made->byteCount(); ++i)
            made->bits()[i] = std::uint8_t(i * 7);
        savePicture(*made, path.toStdString());
        return path;
    }

    QList<QMdiSubWindow*> imageWindows() const
    {
        return m_window->mdiArea()->subWindowList(QMdiArea::CreationOrder);
    }

    // Drags `paths` over the main window and drops them; whether the drag was welcome.
    bool drop(const QStringList& paths)
    {
        const std::unique_ptr<QMimeData> data(filesData(paths));
        const QPoint at = m_window->mdiArea()->geometry().center();
        QDragEnterEvent enter(at, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_window.get(), &enter);
        if (!enter.isAccepted()) return false;
        QDropEvent dropped(at, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_window.get(), &dropped);
        QCoreApplication::processEvents(); // the files open once the drop is over
        return dropped.isAccepted();
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_ui = std::make_unique<StubUi>();
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

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments"); // after the program's name
        QTest::addColumn<bool>("textOnly");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("asked"); // "help", "version" or ""
        QTest::addColumn<QStringList>("files");
        QTest::newRow("nothing") << QStringList() << false << true << "" << QStringList();
        QTest::newRow("two files") << QStringList{"a.bmp", "/slike/b c.png"} << false << true << ""
                                   << QStringList{"a.bmp", "/slike/b c.png"};
        QTest::newRow("--version") << QStringList{"--version"} << true << true << "version" << QStringList();
        QTest::newRow("-v among files")
            << QStringList{"a.bmp", "-v"} << true << true << "version" << QStringList{"a.bmp"};
        QTest::newRow("--help") << QStringList{"--help"} << true << true << "help" << QStringList();
        QTest::newRow("-h") << QStringList{"-h"} << true << true << "help" << QStringList();
        QTest::newRow("-?") << QStringList{"-?"} << true << true << "help" << QStringList();
        QTest::newRow("a file called --help")
            << QStringList{"--", "--help"} << false << true << "" << QStringList{"--help"};
        // An unknown option gets the usage, without a display.
        QTest::newRow("unknown option") << QStringList{"--bogus"} << true << false << "" << QStringList();
        QTest::newRow("unknown option with --help")
            << QStringList{"--bogus", "--help"} << true << false << "" << QStringList();
    }

    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, textOnly);
        QFETCH(bool, valid);
        QFETCH(QString, asked);
        QFETCH(QStringList, files);
        QCOMPARE(answeredWithTextOnly(arguments), textOnly);
        CommandLine line;
        QCOMPARE(line.parse(QStringList{u"pelinor"_s} + arguments), valid);
        if (!valid) {
            QVERIFY(line.errorText().contains(u"bogus"_s));
            return;
        }
        QCOMPARE(line.help(), asked == u"help"_s);
        QCOMPARE(line.version(), asked == u"version"_s);
        // Relative to the working folder, like the full paths the file dialog gives.
        QStringList absolute;
        for (const QString& file : files)
            absolute << QDir::current().absoluteFilePath(file);
        QCOMPARE(line.files(), absolute);
    }

    // The window system's own options are QApplication's: they are left out before the
    // rest is judged without a display, and a file name after "--" is never taken for one.
    void windowSystemOptions_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("own");
        QTest::addColumn<bool>("textOnly");
        QTest::newRow("platform") << QStringList{"-platform", "offscreen", "a.bmp"} << QStringList{"a.bmp"}
                                  << false;
        QTest::newRow("two dashes and equals") << QStringList{"--style=fusion", "-reverse", "--display", ":1",
            "b.png"} << QStringList{"b.png"} << false;
        QTest::newRow("with --help") << QStringList{"-style", "fusion", "--help"} << QStringList{"--help"}
                                     << true;
        QTest::newRow("with an unknown option")
            << QStringList{"-platform", "xcb", "--bogus"} << QStringList{"--bogus"} << true;
        QTest::newRow("files after --")
            << QStringList{"--", "-platform", "x"} << QStringList{"--", "-platform", "x"} << false;
        QTest::newRow("value missing") << QStringList{"-platform"} << QStringList{"-platform"} << true;
    }

    void windowSystemOptions()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, own);
        QFETCH(bool, textOnly);
        QCOMPARE(withoutQtOptions(arguments), own);
        QCOMPARE(answeredWithTextOnly(arguments), textOnly);
    }

    void helpAndVersionTexts()
    {
        setApplicationIdentity();
        CommandLine line;
        QVERIFY(line.parse({u"pelinor"_s, u"--help"_s}));
        const QString help = line.helpText();
        for (const QString& part : {u"--help"_s, u"--version"_s, u"[datoteke...]"_s, u"Cox et al."_s})
            QVERIFY2(help.contains(part), qPrintable(help));
        QCOMPARE(line.versionText(), u"Pelinor "_s + QStringLiteral(PELINOR_VERSION) + u'\n');
    }

    // Qt's own texts, in the dialogs the program shows, are Croatian.
    void qtTextsInCroatian()
    {
        QVERIFY2(installQtTranslation(*QCoreApplication::instance()),
            "Qt's Croatian translation (qt6-translations-l10n) is missing");
        QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        QCOMPARE(buttons.button(QDialogButtonBox::Cancel)->text().remove(u'&'), u"Odustani"_s);
        QFileDialog dialog(nullptr, u"Pelinor"_s);
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        const QLabel* name = dialog.findChild<QLabel*>(u"fileNameLabel"_s);
        QVERIFY(name != nullptr);
        QVERIFY2(!name->text().contains(u"name"_s, Qt::CaseInsensitive), qPrintable(name->text()));
        QVERIFY2(name->text().contains(u"datoteke"_s, Qt::CaseInsensitive), qPrintable(name->text()));
    }

    void droppedFilesOpenAsImageWindows()
    {
        const QString first = picture(u"prva.bmp"_s);
        const QString second = picture(u"druga slika.png"_s);
        const QString notPicture = m_dir->filePath(u"tekst.bmp"_s);
        QFile file(notPicture);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("nije slika");
        file.close();

        QVERIFY(!drop({u"https://example.org/slika.bmp"_s})); // nothing local: refused
        QVERIFY(imageWindows().isEmpty());

        QVERIFY(drop({first, notPicture, second}));
        const QList<QMdiSubWindow*> windows = imageWindows();
        QCOMPARE(windows.size(), 2); // the bad file is reported, the others still open
        QCOMPARE(windows[0]->windowTitle(), first);
        QCOMPARE(windows[1]->windowTitle(), second);
        QCOMPARE(m_window->activeImageWindow(), windows[1]);
        // Like the open command: two independent pictures, loaded from the file.
        const auto* image = qobject_cast<FrmSlika*>(windows[0]);
        QVERIFY(image->shownPicture() && image->shownPicture() != image->workingPicture());
        QCOMPARE(image->shownPicture()->width(), 40);
        QCOMPARE(m_ui->messages.size(), 1);
        QVERIFY2(m_ui->messages[0].startsWith(u"Pelinor|Slika se ne može otvoriti."_s),
            qPrintable(m_ui->messages[0]));
        QVERIFY(m_ui->messages[0].contains(notPicture));
        QVERIFY(m_ui->startPaths.isEmpty()); // no file dialog was shown
    }

    void cascade_data()
    {
        QTest::addColumn<QList<QRect>>("windows");
        QTest::addColumn<QPoint>("next");
        // A 300 x 200 window in a 400 x 300 area, 20 pixels a step.
        const auto at = [](int x, int y) { return QRect(x, y, 300, 200); };
        QTest::newRow("first window") << QList<QRect>() << QPoint(0, 0);
        QTest::newRow("one step on") << QList<QRect>{at(0, 0)} << QPoint(20, 20);
        QTest::newRow("last that fits") << QList<QRect>{at(60, 80)} << QPoint(80, 100);
        // Past the edge, back to the top, never onto the first window.
        QTest::newRow("bottom edge reached") << QList<QRect>{at(0, 0), at(60, 81)} << QPoint(80, 0);
        QTest::newRow("bottom and right edges reached")
            << QList<QRect>{at(0, 0), at(20, 20), at(100, 100)} << QPoint(40, 40);
        QTest::newRow("moved above the area") << QList<QRect>{at(10, -50)} << QPoint(30, 0);
        // A title bar hidden already is no bar; the next diagonal starts half a step on.
        QTest::newRow("hidden by the user")
            << QList<QRect>{at(0, 0), at(0, 0), at(20, 20), at(40, 40), at(60, 60), at(80, 80), at(100, 100)}
            << QPoint(10, 0);
    }

    void cascade()
    {
        QFETCH(QList<QRect>, windows);
        QFETCH(QPoint, next);
        QCOMPARE(cascadePosition(windows, QSize(300, 200), QSize(400, 300), 20), next);
        // A window larger than the area goes to its corner; the area scrolls to the rest.
        QCOMPARE(cascadePosition(windows, QSize(500, 200), QSize(400, 300), 20), QPoint(0, 0));
    }

    // However many windows are opened one after another, each lies inside the area, and no
    // window is hidden by those opened after it: part of every title bar stays in sight.
    void cascadeKeepsEveryTitleBarInSight_data()
    {
        QTest::addColumn<QSize>("room");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("step");
        for (const int count : {1, 6, 20}) {
            QTest::addRow("%d in 400 x 300", count) << QSize(400, 300) << count << 20;
            QTest::addRow("%d in 260 x 180", count) << QSize(260, 180) << count << 23;
            QTest::addRow("%d in 1000 x 700", count) << QSize(1000, 700) << count << 25;
        }
    }

    void cascadeKeepsEveryTitleBarInSight()
    {
        QFETCH(QSize, room);
        QFETCH(int, count);
        QFETCH(int, step);
        const QSize size(room.width() / 2, room.height() * 3 / 4); // as the area gives
        QList<QRect> windows;
        for (int i = 0; i < count; ++i)
            windows << QRect(cascadePosition(windows, size, room, step), size);
        QCOMPARE(windows.size(), count);
        QCOMPARE(windows[0].topLeft(), QPoint(0, 0));
        if (count > 1) QCOMPARE(windows[1].topLeft(), QPoint(step, step)); // the cascade
        for (qsizetype i = 0; i < windows.size(); ++i) {
            QVERIFY2(QRect(QPoint(0, 0), room).contains(windows[i]), qPrintable(u"window %1"_s.arg(i)));
            QRegion bar(QRect(windows[i].topLeft(), QSize(size.width(), step)));
            for (qsizetype above = i + 1; above < windows.size(); ++above)
                bar -= windows[above];
            // Enough of it to take hold of: a quarter of its height square.
            int visible = 0;
            for (const QRect& part : bar)
                visible += part.width() * part.height();
            QVERIFY2(
                visible >= (step / 4) * (step / 4), qPrintable(u"title bar of window %1 hidden"_s.arg(i)));
        }
    }

    void beside_data()
    {
        QTest::addColumn<QRect>("source");
        QTest::addColumn<QList<QRect>>("others"); // under the source
        QTest::addColumn<OptPoint>("place");
        // 200 x 150 windows in a 400 x 300 area, 20 pixels a step.
        const auto at = [](int x, int y) { return QRect(x, y, 200, 150); };
        QTest::newRow("left half") << at(0, 0) << QList<QRect>() << OptPoint(QPoint(200, 0));
        QTest::newRow("cascaded a step") << at(20, 20) << QList<QRect>{at(0, 0)} << OptPoint(QPoint(200, 20));
        QTest::newRow("right half") << at(200, 40) << QList<QRect>() << OptPoint(QPoint(0, 40));
        QTest::newRow("low in the area") << at(20, 200) << QList<QRect>() << OptPoint(QPoint(200, 150));
        QTest::newRow("in the middle") << at(100, 0) << QList<QRect>() << OptPoint();
        QTest::newRow("another window's title bar")
            << at(0, 0) << QList<QRect>{at(200, 0)} << OptPoint(); // would hide it
    }

    void beside()
    {
        QFETCH(QRect, source);
        QFETCH(QList<QRect>, others);
        QFETCH(OptPoint, place);
        QCOMPARE(besidePosition(others << source, source, QSize(200, 150), QSize(400, 300), 20), place);
    }

    void everyNewWindowIsSeenWhole()
    {
        const QString path = picture(u"mnogo.bmp"_s);
        const QString mark = m_dir->filePath(u"zig.wmk"_s);
        CoxGenMark(mark.toStdString(), 0.3, 50, 7, 0.0, 1.0);
        QStringList files;
        for (int i = 0; i < 7; ++i)
            files << path;
        QVERIFY(drop(files));
        m_ui->answers << mark; // and one made by embedding
        m_window->mnuEmbed->trigger();
        QCoreApplication::processEvents();
        const QList<QMdiSubWindow*> windows = imageWindows();
        QCOMPARE(windows.size(), 8);
        const QRect room = m_window->mdiArea()->viewport()->rect();
        const int step = windows[0]->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, windows[0]);
        const QList<QMdiSubWindow*> stack = m_window->mdiArea()->subWindowList(QMdiArea::StackingOrder);
        for (qsizetype i = 0; i < stack.size(); ++i) {
            QVERIFY2(room.contains(stack[i]->geometry()), qPrintable(u"window %1"_s.arg(i)));
            QRegion bar(QRect(stack[i]->pos(), QSize(stack[i]->width(), step)));
            for (qsizetype above = i + 1; above < stack.size(); ++above)
                bar -= stack[above]->geometry();
            QVERIFY2(!bar.isEmpty(), qPrintable(u"title bar of window %1 hidden"_s.arg(i)));
        }
        // Moved past the edge, a window is still reachable: the area scrolls.
        windows[0]->move(room.width() - 10, 0);
        QCoreApplication::processEvents();
        QVERIFY(m_window->mdiArea()->horizontalScrollBar()->maximum() > 0);
    }

    // The marked window stands beside its source, so that the two can be compared.
    void markedWindowBesideItsSource()
    {
        const QString mark = m_dir->filePath(u"zig.wmk"_s);
        CoxGenMark(mark.toStdString(), 0.3, 50, 7, 0.0, 1.0);
        QVERIFY(drop({picture(u"izvor.bmp"_s)}));
        m_ui->answers << mark;
        m_window->mnuEmbed->trigger();
        QCoreApplication::processEvents();
        const QList<QMdiSubWindow*> windows = imageWindows();
        QCOMPARE(windows.size(), 2);
        QCOMPARE(windows[1]->windowTitle(), u"Označena slika"_s);
        QCOMPARE(windows[0]->pos(), QPoint(0, 0));
        QCOMPARE(windows[1]->pos(), QPoint(windows[0]->geometry().right() + 1, 0));
        QVERIFY(m_window->mdiArea()->viewport()->rect().contains(windows[1]->geometry()));
    }

    void lastPathKeptBetweenRuns()
    {
        const QString chosen = picture(u"zadnja.bmp"_s);
        m_ui->startPaths.clear();
        m_ui->answers = {std::nullopt}; // a cancel stores nothing
        m_window->mnuOtvori->trigger();
        QCOMPARE(m_ui->stores, 0);
        m_ui->answers = {chosen};
        m_window->mnuOtvori->trigger();
        QCOMPARE(m_ui->stored, chosen);
        // The next run starts every file dialog from it.
        m_window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_window = std::make_unique<MDIPocetak>(*m_ui);
        m_ui->startPaths.clear();
        m_window->mnuSpremi->trigger();
        QCOMPARE(m_ui->startPaths, QStringList{chosen});
    }

    void realSettingsFile()
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir->path());
        QtUiServices settings;
        QCOMPARE(settings.storedPath(), QString()); // nothing yet
        settings.storePath(u"/mapa/slika č.bmp"_s);
        QCOMPARE(QtUiServices().storedPath(), u"/mapa/slika č.bmp"_s);
        QVERIFY(QFile::exists(m_dir->filePath(u"pelinor/pelinor.conf"_s)));
    }
};

QTEST_MAIN(TestDesktop)
#include "test_desktop.moc"
