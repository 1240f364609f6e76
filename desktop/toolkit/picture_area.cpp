#include "desktop/toolkit/picture_area.h"

#include <QPainter>
#include <cstring>

namespace pelinor {

PictureArea::PictureArea(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void PictureArea::setPicture(PictureRef picture)
{
    m_picture = std::move(picture);
    m_cache = QImage();
    if (m_picture) resize(m_picture->width(), m_picture->height());
    update();
}

void PictureArea::paintEvent(QPaintEvent*)
{
    if (!m_picture) return;
    if (m_cache.isNull()) m_cache = toQImage(*m_picture);
    QPainter painter(this);
    painter.drawImage(0, 0, m_cache);
}

QImage toQImage(const Picture& picture)
{
    QImage image(picture.width(), picture.height(), QImage::Format_BGR888);
    if (image.isNull()) return image;
    const std::size_t rowBytes = 3 * std::size_t(picture.width());
    for (int y = 0; y < picture.height(); ++y)
        std::memcpy(image.scanLine(y), picture.bits() + std::size_t(picture.storedRow(y)) * picture.stride(),
            rowBytes);
    // Painting from 32-bit pixels is much cheaper than converting on every paint.
    return image.convertToFormat(QImage::Format_RGB32);
}

} // namespace pelinor
