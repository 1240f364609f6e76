// The program's own texts that more than one window shows.
#pragma once

#include <QString>

namespace pelinor::text {

inline const QString kAppTitle = QStringLiteral("Pelinor");
inline const QString kNoticeTitle = QStringLiteral("Vazna obavijest");
inline const QString kOnlyCtrlAltDel
    = QStringLiteral("Rad programa se u trenutnoj verziji može prekinuti samo s CTRL-ALT-DEL. :)");
inline const QString kEmbedNotice = QStringLiteral("Umetanje žiga može potrajati. ") + kOnlyCtrlAltDel;
inline const QString kTestNotice = QStringLiteral("Testiranje žiga može potrajati. ") + kOnlyCtrlAltDel;
// The test dialog's two verdicts.
inline const QString kFoundText = QStringLiteral("Žig je pronađen u označenoj slici.");
inline const QString kNotFoundText = QStringLiteral("Označena slika ne sadrži žig.");
// The test dialog's answer for a suspect that cannot be aligned with the original.
inline const QString kNotACopyText
    = QStringLiteral("Slika s žigom nije kopija originalne slike (ne može se poravnati s njom).");
inline const QString kMarkedCaption = QStringLiteral("Označena slika");
inline const QString kBitmapFilter = QStringLiteral("Bitmape (*.bmp)|*.bmp");
// The main window's open and save dialogs: the bitmaps first, then every format the
// program reads and writes (only 24-bit pictures take part in watermarking).
inline const QString kPictureFilter
    = kBitmapFilter + QStringLiteral("|Sve podržane slike|*.bmp;*.png;*.jpg;*.jpeg;*.tif;*.tiff;*.webp");

} // namespace pelinor::text
