#include "desktop/app/frm_pocetak.h"

#include "base/error.h"
#include "desktop/app/frm_dialog.h"
#include "desktop/toolkit/failure_text.h"
#include "desktop/toolkit/texts.h"
#include "desktop/toolkit/twips.h"
#include "desktop/toolkit/ui_services.h"
#include "desktop/windows/file_kind.h"
#include "desktop/windows/frm_gen.h"
#include "desktop/windows/frm_slika.h"
#include "desktop/windows/frm_test.h"

#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <memory>

namespace pelinor {

namespace {

QAction* item(QMenu* menu, const char* name, const QString& caption)
{
    QAction* action = menu->addAction(caption);
    action->setObjectName(QString::fromLatin1(name));
    return action;
}

// The local files among dragged data; a drag that carries none is refused.
QStringList droppedFiles(const QMimeData* data)
{
    QStringList files;
    if (data == nullptr || !data->hasUrls()) return files;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) files << url.toLocalFile();
    return files;
}

} // namespace

MDIPocetak::MDIPocetak(UiServices& ui, QWidget* parent, std::int64_t maxPixels)
    : QMainWindow(parent)
    , m_ui(ui)
    , m_area(new QMdiArea(this))
    , m_cdlDat(ui)
    , m_budget(std::make_shared<PixelBudget>(maxPixels))
{
    setObjectName(QStringLiteral("MDIPocetak"));
    setWindowTitle(text::kAppTitle);
    m_area->setObjectName(QStringLiteral("mdiArea"));
    // A window moved or left beyond the area's edge can still be reached.
    m_area->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_area->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(m_area);
    setAcceptDrops(true);
    buildMenus();

    placeOnScreen();
}

void MDIPocetak::placeOnScreen()
{
    // The client area (below the menu bar) is 10110 x 6405 twips; centred on the screen.
    const QSize client(twipsToPixelsX(10110, this), twipsToPixelsY(6405, this));
    const QSize menu = menuBar()->isVisible() ? menuBar()->size() : menuBar()->sizeHint();
    resize(client.width(), client.height() + menu.height());
    if (const QScreen* screen
        = this->screen() != nullptr ? this->screen() : QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void MDIPocetak::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    // Once shown, the menu bar's real height and the frame are known.
    if (!m_placed) {
        m_placed = true;
        placeOnScreen();
    }
}

void MDIPocetak::buildMenus()
{
    QMenuBar* bar = menuBar();
    mnuDat = bar->addMenu(QStringLiteral("&Datoteka"));
    mnuDat->setObjectName(QStringLiteral("mnuDat"));
    mnuOtvori = item(mnuDat, "mnuOtvori", QStringLiteral("&Otvori"));
    mnuSpremi = item(mnuDat, "mnuSpremi", QStringLiteral("&Spremi"));
    mnuSeparator = mnuDat->addSeparator();
    mnuSeparator->setObjectName(QStringLiteral("mnuSeparator"));
    mnuIzlaz = item(mnuDat, "mnuIzlaz", QStringLiteral("I&zlaz"));

    mnuWM = bar->addMenu(QStringLiteral("&") + text::kAppTitle);
    mnuWM->setObjectName(QStringLiteral("mnuWM"));
    mnuCox = mnuWM->addMenu(QStringLiteral("Co&x et al. algoritam"));
    mnuCox->setObjectName(QStringLiteral("mnuCox"));
    mnuGen = item(mnuCox, "mnuGen", QStringLiteral("&Generiranje žiga"));
    mnuEmbed = item(mnuCox, "mnuEmbed", QStringLiteral("&Umetanje žiga"));
    mnuTest = item(mnuCox, "mnuTest", QStringLiteral("&Testiranje žiga"));

    // A top-level entry without a submenu: it acts on click.
    mnuAbout = bar->addAction(QStringLiteral("&O programu"));
    mnuAbout->setObjectName(QStringLiteral("mnuAbout"));

    connect(mnuOtvori, &QAction::triggered, this, &MDIPocetak::mnuOtvori_Click);
    connect(mnuSpremi, &QAction::triggered, this, &MDIPocetak::mnuSpremi_Click);
    connect(mnuIzlaz, &QAction::triggered, this, &MDIPocetak::mnuIzlaz_Click);
    connect(mnuGen, &QAction::triggered, this, &MDIPocetak::mnuGen_Click);
    connect(mnuEmbed, &QAction::triggered, this, &MDIPocetak::mnuEmbed_Click);
    connect(mnuTest, &QAction::triggered, this, &MDIPocetak::mnuTest_Click);
    connect(mnuAbout, &QAction::triggered, this, &MDIPocetak::mnuAbout_Click);
}

FrmSlika* MDIPocetak::activeImageWindow() const
{
    // currentSubWindow stays valid while the application is inactive.
    return qobject_cast<FrmSlika*>(m_area->currentSubWindow());
}

void MDIPocetak::reportFailure(const QString& what, const QString& path)
{
    m_ui.message(this, failureMessage(what, path, currentError()), MessageIcon::Warning, text::kAppTitle);
}

void MDIPocetak::onActiveWindow(
    const QString& path, const QString& failure, const std::function<void(FrmSlika&)>& operation)
{
    // The active window is looked up only after the path was chosen; with none
    // open the command ends quietly.
    FrmSlika* window = activeImageWindow();
    if (window == nullptr) return;
    try {
        operation(*window);
    } catch (...) {
        reportFailure(failure, path);
    }
}

void MDIPocetak::mnuOtvori_Click()
{
    m_cdlDat.setTitle(text::kAppTitle);
    m_cdlDat.setFilter(text::kPictureFilter);
    const std::optional<QString> path = m_cdlDat.showOpen(this);
    if (path) openImage(*path);
}

FrmSlika* MDIPocetak::openImage(const QString& path)
{
    // The window joins the area only once its picture loaded: a file that cannot
    // be read leaves no empty window behind.
    auto window = std::make_unique<FrmSlika>(m_ui, nullptr, m_budget);
    try {
        window->OtvoriSliku(path);
    } catch (...) {
        reportFailure(QStringLiteral("Slika se ne može otvoriti."), path);
        return nullptr;
    }
    FrmSlika* shown = window.release();
    FrmSlika::addTo(m_area, shown);
    shown->show();
    m_area->setActiveSubWindow(shown);
    return shown;
}

void MDIPocetak::mnuSpremi_Click()
{
    m_cdlDat.setTitle(text::kAppTitle);
    m_cdlDat.setFilter(text::kPictureFilter);
    const std::optional<QString> path = m_cdlDat.showSave(this);
    if (path)
        onActiveWindow(*path, QStringLiteral("Slika se ne može spremiti."), [&](FrmSlika& window) {
            // The shared dialog starts from the last path chosen anywhere, a watermark file
            // included: a picture is replaced without a question, anything else only on a Yes.
            const FileKind kind = existingFileKind(*path);
            if ((kind == FileKind::Watermark || kind == FileKind::Other)
                && !m_ui.ask(this,
                    QStringLiteral("Datoteka ") + *path
                        + QStringLiteral(" već postoji i nije slika.\nŽelite li je zamijeniti slikom?"),
                    text::kAppTitle))
                return;
            window.SnimiSliku(*path);
        });
}

void MDIPocetak::mnuIzlaz_Click()
{
    close();
}

void MDIPocetak::mnuGen_Click()
{
    if (!m_frmGen) m_frmGen = new FrmGen(m_cdlDat, m_ui, this);
    m_frmGen->exec();
}

void MDIPocetak::mnuEmbed_Click()
{
    m_cdlDat.setTitle(QStringLiteral("Odabir vodenog žiga"));
    m_cdlDat.setFilter(QStringLiteral("Žig (*.wmk)|*.wmk"));
    const std::optional<QString> path = m_cdlDat.showOpen(this);
    if (!path) return;
    const QString failure = QStringLiteral("Žig se ne može umetnuti.");
    onActiveWindow(*path, failure, [&](FrmSlika& window) {
        try {
            window.UmetniZig(*path);
        } catch (const Error& error) {
            if (error.number() != err::TooFewCoefficients && error.number() != err::PixelBudget) throw;
            // The picture is too small for the watermark, or its marked copy would not fit in the
            // windows' budget: it is named, not the watermark file.
            m_ui.message(this, failureMessage(failure, QStringLiteral("Slika"), window.windowTitle(), error),
                MessageIcon::Warning, text::kAppTitle);
        }
    });
}

void MDIPocetak::mnuTest_Click()
{
    if (!m_frmTest) m_frmTest = new FrmTest(m_cdlDat, m_ui, this);
    m_frmTest->exec();
}

void MDIPocetak::mnuAbout_Click()
{
    if (!m_frmDialog) m_frmDialog = new FrmDialog(this);
    m_frmDialog->exec();
}

void MDIPocetak::dragEnterEvent(QDragEnterEvent* event)
{
    if (!droppedFiles(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void MDIPocetak::dragMoveEvent(QDragMoveEvent* event)
{
    if (!droppedFiles(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void MDIPocetak::dropEvent(QDropEvent* event)
{
    const QStringList files = droppedFiles(event->mimeData());
    if (files.isEmpty()) return;
    event->acceptProposedAction();
    // Opened once the drop is over, so a message about a bad file does not hold the
    // program the file came from. Each file on its own, as if chosen in the open
    // command: one that cannot be read is reported and the others still open.
    QTimer::singleShot(0, this, [this, files] {
        for (const QString& file : files)
            openImage(file);
    });
}

void MDIPocetak::closeEvent(QCloseEvent* event)
{
    // Ends the program without a question, unsaved marked images included.
    m_area->closeAllSubWindows();
    event->accept();
}

} // namespace pelinor
