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
inline const QString kMarkedCaption = QStringLiteral("Označena slika");
inline const QString kBitmapFilter = QStringLiteral("Bitmape (*.bmp)|*.bmp");

} // namespace pelinor::text
