// A picture box: holds a reference to a shared picture and draws it at its natural
// size, one picture pixel per screen pixel, from its top-left corner.
#pragma once

#include "image/picture.h"

#include <QImage>
#include <QWidget>

namespace pelinor {

class PictureArea : public QWidget {
    Q_OBJECT
public:
    explicit PictureArea(QWidget* parent = nullptr);

    // Stores the reference (no copy of the pixels) and takes the picture's size.
    // nullptr empties the area.
    void setPicture(PictureRef picture);
    const PictureRef& picture() const { return m_picture; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    PictureRef m_picture;
    QImage m_cache; // built on first paint; pictures are never changed once set
};

// The picture's pixels, top row first, as a Qt image (a copy).
QImage toQImage(const Picture& picture);

} // namespace pelinor
