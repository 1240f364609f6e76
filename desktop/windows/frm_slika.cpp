#include "desktop/windows/frm_slika.h"

#include "base/error.h"
#include "desktop/toolkit/picture_area.h"
#include "desktop/toolkit/texts.h"
#include "desktop/toolkit/twips.h"
#include "desktop/toolkit/ui_services.h"
#include "image/image_io.h"
#include "watermark/detect.h"
#include "watermark/embed.h"
#include "watermark/watermark_file.h"

#include <QMdiArea>
#include <QStyle>
#include <cmath>

namespace pelinor {

int layoutOffset(double outerTwips, double areaTwips)
{
    // nearbyint rounds to nearest with ties to even; C++ division truncates toward zero.
    const long long difference = std::llround(std::nearbyint(outerTwips - areaTwips));
    return static_cast<int>(difference / 2);
}

QPoint cascadePosition(std::optional<QPoint> previous, QSize size, QSize room, int step)
{
    if (!previous) return {0, 0};
    const QPoint next = *previous + QPoint(step, step);
    const bool inside = next.x() >= 0 && next.y() >= 0 && next.x() + size.width() <= room.width()
        && next.y() + size.height() <= room.height();
    return inside ? next : QPoint(0, 0);
}

FrmSlika::FrmSlika(UiServices& ui, QWidget* parent)
    : QMdiSubWindow(parent)
    , m_ui(ui)
    , m_client(new QWidget)
    , m_picSlika(new PictureArea(m_client))
    , m_picBuffer(new PictureArea(m_client))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Form1"));
    setWidget(m_client);
    m_client->setAutoFillBackground(true);
    m_client->setMinimumSize(1, 1);
    m_picSlika->setObjectName(QStringLiteral("picSlika"));
    m_picBuffer->setObjectName(QStringLiteral("picBuffer"));
    placeTwips(m_picSlika, 240, 240, 7335, 7095);
    placeTwips(m_picBuffer, 240, 240, 7335, 7095);
    // The working picture is never displayed.
    m_picBuffer->hide();
}

void FrmSlika::addTo(QMdiArea* area, FrmSlika* window)
{
    // The first size is ours to choose (the window never follows its picture's
    // size): half the area's width, so that an image and its marked copy stand
    // side by side where the area places them.
    QSize size(twipsToPixelsX(6000, window), twipsToPixelsY(4500, window));
    if (area == nullptr) {
        window->resize(size);
        return;
    }
    // The area's own placement fills gaps first and puts later windows below its
    // visible part; a cascade keeps each one in sight, its title bar clear of the last.
    std::optional<QPoint> previous;
    const QList<QMdiSubWindow*> windows = area->subWindowList(QMdiArea::CreationOrder);
    for (auto it = windows.crbegin(); it != windows.crend() && !previous; ++it)
        if ((*it)->isVisible() && !(*it)->isMinimized() && !(*it)->isMaximized()) previous = (*it)->pos();
    area->addSubWindow(window);
    const QSize room = area->viewport()->size();
    if (room.width() > 200 && room.height() > 150) size = QSize(room.width() / 2, room.height() * 3 / 4);
    window->resize(size);
    const int step = window->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, window);
    window->move(cascadePosition(previous, size, room, step));
}

const PictureRef& FrmSlika::shownPicture() const
{
    return m_picSlika->picture();
}
const PictureRef& FrmSlika::workingPicture() const
{
    return m_picBuffer->picture();
}

void FrmSlika::setPictures(PictureRef shown, PictureRef working)
{
    m_picSlika->setPicture(std::move(shown));
    m_picBuffer->setPicture(std::move(working));
    m_picBuffer->hide();
    m_picSlika->move(0, 0);
    Form_Resize();
}

void FrmSlika::OtvoriSliku(const QString& ImeSlike)
{
    // Load before touching the window, so that a file that cannot be read leaves
    // nothing half-done; the copy keeps the working picture independent.
    PictureRef shown = loadPicture(ImeSlike.toStdString());
    PictureRef working = shown->clone();
    setPictures(std::move(shown), std::move(working));
    setWindowTitle(ImeSlike);
}

void FrmSlika::PostaviSliku(const PictureRef& Slika)
{
    setPictures(Slika, Slika);
}

void FrmSlika::SnimiSliku(const QString& dat) const
{
    const PictureRef& shown = shownPicture();
    if (!shown) throw Error(err::InvalidCall, "The window holds no picture");
    savePicture(*shown, dat.toStdString());
}

FrmSlika* FrmSlika::UmetniZig(const QString& ImeZig)
{
    const PictureRef source = shownPicture();
    if (!is24Bit(source.get())) {
        m_ui.message(this, QString::fromUtf8(kOnly24BitText.data(), qsizetype(kOnly24BitText.size())),
            MessageIcon::Critical, text::kAppTitle);
        return nullptr;
    }
    const Watermark watermark = readWatermark(ImeZig.toStdString());
    // Refused before the notice that embedding takes a while: a watermark that gives no mark,
    // and a picture too small to hold it.
    requireUsableWatermark(watermark);
    requireCandidates(source->width(), source->height(), watermark.length);
    m_ui.message(this, text::kEmbedNotice, MessageIcon::Information, text::kNoticeTitle);
    PictureRef marked;
    {
        WaitCursor hourglass(m_ui);
        // The engine writes into a new picture: this window and every earlier
        // marked window keep their pixels.
        marked = embedWatermark(*source, watermark).marked;
    }
    QMdiArea* area = mdiArea();
    auto* window = new FrmSlika(m_ui);
    addTo(area, window);
    window->PostaviSliku(marked);
    window->setWindowTitle(text::kMarkedCaption);
    window->show();
    if (area != nullptr) area->setActiveSubWindow(window);
    return window;
}

void FrmSlika::Form_Resize()
{
    const int left = layoutOffset(pixelsToTwipsX(width(), this), pixelsToTwipsX(m_picSlika->width(), this));
    const int top = layoutOffset(pixelsToTwipsY(height(), this), pixelsToTwipsY(m_picSlika->height(), this));
    m_picSlika->move(twipsToPixelsX(left, this), twipsToPixelsY(top, this));
}

void FrmSlika::resizeEvent(QResizeEvent* event)
{
    QMdiSubWindow::resizeEvent(event);
    Form_Resize();
}

} // namespace pelinor
