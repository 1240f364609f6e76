// MDIPocetak: the main window. Every action starts at one of its menu entries; it
// owns the shared file dialog cdlDat and the image windows in its MDI area.
#pragma once

#include "desktop/toolkit/common_dialog.h"
#include "desktop/windows/frm_slika.h"
#include "image/picture.h"

#include <QMainWindow>
#include <QPointer>
#include <functional>

class QAction;
class QMdiArea;
class QMenu;

namespace pelinor {

class FrmDialog;
class FrmGen;
class FrmTest;
class UiServices;

class MDIPocetak : public QMainWindow {
    Q_OBJECT
public:
    // `maxPixels` is the budget of all the image windows together: a picture that does not fit
    // in what the open windows leave of it is refused; closing a window gives its pixels back.
    explicit MDIPocetak(
        UiServices& ui, QWidget* parent = nullptr, std::int64_t maxPixels = kDefaultMaxPixels);

    QMdiArea* mdiArea() const { return m_area; }
    CommonDialog& cdlDat() { return m_cdlDat; }
    const PixelBudget& pixelBudget() const { return *m_budget; }
    // The active image window, looked up when a command needs it.
    FrmSlika* activeImageWindow() const;

    // Opens `path` in a new image window, as the open command does once its file is
    // chosen (also for files named on the command line or dropped on the window).
    // The new window, or nullptr when the file could not be opened (reported).
    FrmSlika* openImage(const QString& path);

    QMenu* mnuDat;
    QAction* mnuOtvori;
    QAction* mnuSpremi;
    QAction* mnuSeparator;
    QAction* mnuIzlaz;
    QMenu* mnuWM;
    QMenu* mnuCox;
    QAction* mnuGen;
    QAction* mnuEmbed;
    QAction* mnuTest;
    QAction* mnuAbout;

public slots:
    void mnuOtvori_Click();
    void mnuSpremi_Click();
    void mnuIzlaz_Click();
    void mnuGen_Click();
    void mnuEmbed_Click();
    void mnuTest_Click();
    void mnuAbout_Click();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void placeOnScreen();
    void buildMenus();
    void reportFailure(const QString& what, const QString& path);
    // Runs `operation` on the active image window, reporting a failure with `path`.
    void onActiveWindow(
        const QString& path, const QString& failure, const std::function<void(FrmSlika&)>& operation);

    UiServices& m_ui;
    QMdiArea* m_area;
    CommonDialog m_cdlDat;
    WindowBudget m_budget;
    QPointer<FrmDialog> m_frmDialog;
    QPointer<FrmGen> m_frmGen;
    QPointer<FrmTest> m_frmTest;
    bool m_placed = false;
};

} // namespace pelinor
