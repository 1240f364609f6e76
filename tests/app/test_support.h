// Files and helpers for the desktop program's tests.
#pragma once

#include <QApplication>
#include <QByteArray>
#include <QPointer>
#include <QString>
#include <QTest>
#include <QTimer>
#include <functional>

#include "image/picture.h"

namespace pelinor::test {

// A 24-bit picture with texture everywhere, so its DCT coefficients are distinct.
PictureRef texturedPicture(int width, int height, unsigned seed);
// Writes it as a 24-bit BMP with the core's encoder.
void writeTexturedBmp(const QString& path, int width, int height, unsigned seed);
// A palette (8-bit) BMP, written byte by byte.
void write8BitBmp(const QString& path, int width, int height);

QByteArray readAll(const QString& path);
QStringList readLines(const QString& path);  // split at CRLF, without the final empty piece

// Runs `trigger` (which shows a modal dialog of type Dialog, a child of `owner`)
// and `script` on the dialog once it is up. Whatever the script leaves open is
// closed afterwards so that a failing check cannot hang the test.
template <class Dialog>
void withModal(QWidget& owner, const std::function<void()>& trigger, const std::function<void(Dialog*)>& script)
{
    bool ran = false;
    QTimer::singleShot(0, &owner, [&] {
        QPointer<Dialog> dialog = owner.findChild<Dialog*>();
        ran = true;
        if (dialog.isNull()) return;
        script(dialog.data());
        if (!dialog.isNull() && dialog->isVisible()) dialog->done(0);
    });
    trigger();
    QVERIFY2(ran, "the dialog was not shown");
}

// Deletes what close() scheduled for deletion.
inline void flushDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace pelinor::test
