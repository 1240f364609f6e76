// frmSlika: an image window inside the main window's MDI area. It holds the shown
// picture (picSlika) and the working picture (picBuffer), each in a picture area.
#pragma once

#include "base/pixel_budget.h"
#include "image/picture.h"

#include <QMdiSubWindow>
#include <QPoint>
#include <QSize>
#include <QString>
#include <memory>
#include <optional>

namespace pelinor {

class PictureArea;
class UiServices;

// The layout rule in twips: (outer - area) rounded to a whole number with ties to
// even, then halved in whole numbers truncating toward zero (-3 -> -1).
int layoutOffset(double outerTwips, double areaTwips);

// Where a new image window of `size` goes in an area of `room`, over `windows` (their
// frames, bottom of the stack first): one `step` down and right of the top one when that
// will do, else at the area's top one step right of it, else the first place along the
// diagonals from the top and the left edges, half a step apart, then anywhere. A place will do when the new
// window lies wholly inside the area and every title bar (the top `step` pixels) that offers a grip now still
// offers one; in an area too crowded for that, the place that takes fewest. A window larger than the area
// goes to its corner.
QPoint cascadePosition(const QList<QRect>& windows, QSize size, QSize room, int step);

// Beside `source`, at its height: to its right, or to its left, with at most a quarter of the
// width overlapping it, wholly inside an area of `room` and leaving part of every title bar
// of `windows` in sight, as for cascadePosition; nothing when neither side will do.
std::optional<QPoint> besidePosition(
    const QList<QRect>& windows, const QRect& source, QSize size, QSize room, int step);

// The pixel budget all the image windows of the program share: each holds its picture's
// pixels from it while open, so that many windows together stay within what one picture may
// take. Windows hold a share of it, so it outlives whichever of them goes last.
using WindowBudget = std::shared_ptr<PixelBudget>;

class FrmSlika : public QMdiSubWindow {
    Q_OBJECT
public:
    // Without a budget the window's picture is limited on its own (kDefaultMaxPixels).
    explicit FrmSlika(UiServices& ui, QWidget* parent = nullptr, WindowBudget budget = {});

    // Adds `window` to `area` with the first size of every image window, beside `source`
    // when given and there is room, otherwise cascaded over the windows there (not shown yet).
    static void addTo(QMdiArea* area, FrmSlika* window, const QMdiSubWindow* source = nullptr);

    // Loads the file into both pictures (two independent objects) and captions
    // the window with the path. On failure throws pelinor::Error and leaves the
    // window as it was. A picture that does not fit in what the other windows leave of the
    // budget is refused from its header (err::PixelBudget), before it is decoded.
    void OtvoriSliku(const QString& ImeSlike);
    // Makes `Slika` the shown and the working picture (one object, two references).
    void PostaviSliku(const PictureRef& Slika);
    // Writes the shown picture to `dat` (replacing the file); throws on failure.
    void SnimiSliku(const QString& dat) const;
    // Embeds the watermark file into the shown picture and shows the result in a
    // new image window; throws pelinor::Error on failure (err::PixelBudget, before embedding,
    // when the new window's picture does not fit in the budget). Returns the new window,
    // or nullptr when the picture was refused.
    FrmSlika* UmetniZig(const QString& ImeZig);

    // Centres the shown picture area against the window's outer size.
    void Form_Resize();

    const PictureRef& shownPicture() const;
    const PictureRef& workingPicture() const;
    PictureArea* picSlika() const { return m_picSlika; }
    PictureArea* picBuffer() const { return m_picBuffer; }

    // The pixels the window holds of the budget: its picture's, 0 without a budget.
    std::int64_t heldPixels() const noexcept { return m_held.pixels(); }

protected:
    void resizeEvent(QResizeEvent* event) override;
    // A closed window gives its pixels back at once, not only once it is deleted.
    void closeEvent(QCloseEvent* event) override;

private:
    void setPictures(PictureRef shown, PictureRef working);
    // Takes a picture's pixels from the budget, or refuses it (err::PixelBudget).
    PixelBudget::Lease takePixels(std::int64_t pixels) const;

    UiServices& m_ui;
    WindowBudget m_budget; // before m_held, which gives its pixels back to it
    PixelBudget::Lease m_held;
    QWidget* m_client;
    PictureArea* m_picSlika;
    PictureArea* m_picBuffer;
};

} // namespace pelinor
