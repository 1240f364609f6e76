#include "app/demo_script.h"
#include "app/frm_pocetak.h"
#include "ui/ui_services.h"

#include <QApplication>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QTimer>

namespace {

// A small picture-in-a-frame icon, drawn rather than shipped as a file.
QIcon appIcon()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(60, 60, 60), 2));
    painter.setBrush(QColor(135, 190, 235));
    painter.drawRoundedRect(QRectF(2, 5, 28, 22), 3, 3);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(70, 140, 70));
    painter.drawPolygon(
        QPolygonF({QPointF(3, 26), QPointF(13, 14), QPointF(20, 21), QPointF(24, 17), QPointF(29, 26)}));
    painter.setBrush(QColor(250, 210, 60));
    painter.drawEllipse(QPointF(23, 11), 3, 3);
    return QIcon(pixmap);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pelinor"));
    QApplication::setWindowIcon(appIcon());

    pelinor::QtUiServices real;
    pelinor::DemoScript demo(QApplication::arguments(), real);
    pelinor::UiServices& ui = demo.active() ? static_cast<pelinor::UiServices&>(demo) : real;

    pelinor::MDIPocetak window(ui);
    window.show();
    if (demo.active()) QTimer::singleShot(0, &window, [&] { demo.run(window); });
    return app.exec();
}
