// frmSlika: an image window inside the main window's MDI area. It holds the shown
// picture (picSlika) and the working picture (picBuffer), each in a picture area.
#pragma once

#include "image/picture.h"

#include <QMdiSubWindow>
#include <QPoint>
#include <QSize>
#include <QString>
#include <optional>

namespace pelinor {

class PictureArea;
class UiServices;

// The layout rule in twips: (outer - area) rounded to a whole number with ties to
// even, then halved in whole numbers truncating toward zero (-3 -> -1).
int layoutOffset(double outerTwips, double areaTwips);

// Where a new image window of `size` goes in an area of `room`: one `step` down and
// right of the window opened before it (`previous`), or back at the top-left corner
// when that would leave any part of it outside the area, so that every new window
// is seen whole.
QPoint cascadePosition(std::optional<QPoint> previous, QSize size, QSize room, int step);

class FrmSlika : public QMdiSubWindow {
    Q_OBJECT
public:
    explicit FrmSlika(UiServices& ui, QWidget* parent = nullptr);

    // Adds `window` to `area` with the first size of every image window, cascaded
    // from the window added before it (not shown yet).
    static void addTo(QMdiArea* area, FrmSlika* window);

    // Loads the file into both pictures (two independent objects) and captions
    // the window with the path. On failure throws pelinor::Error and leaves the
    // window as it was.
    void OtvoriSliku(const QString& ImeSlike);
    // Makes `Slika` the shown and the working picture (one object, two references).
    void PostaviSliku(const PictureRef& Slika);
    // Writes the shown picture to `dat` (replacing the file); throws on failure.
    void SnimiSliku(const QString& dat) const;
    // Embeds the watermark file into the shown picture and shows the result in a
    // new image window; throws pelinor::Error on failure. Returns the new window,
    // or nullptr when the picture was refused.
    FrmSlika* UmetniZig(const QString& ImeZig);

    // Centres the shown picture area against the window's outer size.
    void Form_Resize();

    const PictureRef& shownPicture() const;
    const PictureRef& workingPicture() const;
    PictureArea* picSlika() const { return m_picSlika; }
    PictureArea* picBuffer() const { return m_picBuffer; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void setPictures(PictureRef shown, PictureRef working);

    UiServices& m_ui;
    QWidget* m_client;
    PictureArea* m_picSlika;
    PictureArea* m_picBuffer;
};

} // namespace pelinor
