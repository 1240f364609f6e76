#include "desktop/app/frm_dialog.h"

#include "desktop/toolkit/texts.h"
#include "desktop/toolkit/twips.h"

#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

namespace pelinor {

namespace {

QLabel* centredLabel(QWidget* parent, const char* name)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    return label;
}

} // namespace

FrmDialog::FrmDialog(QWidget* parent)
    : QDialog(parent,
        Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
            | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("frmDialog"));
    setWindowTitle(QStringLiteral("O programu"));
    useFormFont(this);
    setFixedSize(twipsToPixelsX(4455, this), twipsToPixelsY(2640, this));

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    placeTwips(OKButton, 1620, 2040, 1215, 375);
    OKButton->setDefault(true);

    lblProgram = centredLabel(this, "lblProgram");
    placeTwips(lblProgram, 240, 240, 3975, 495);
    // 9.75 points as designed, a little smaller where the font's lines are taller
    // than the label's two lines allow.
    QFont programFont = lblProgram->font();
    programFont.setWeight(QFont::Normal);
    for (double points = 9.75; points >= 8.0; points -= 0.25) {
        programFont.setPointSizeF(points);
        if (2 * QFontMetrics(programFont).lineSpacing() <= lblProgram->height()) break;
    }
    lblProgram->setFont(programFont);

    lblAutor = centredLabel(this, "lblAutor");
    placeTwips(lblAutor, 240, 1200, 3975, 375);

    Label1 = centredLabel(this, "Label1");
    Label1->setText(QStringLiteral("siječanj 2002."));
    placeTwips(Label1, 360, 1440, 3855, 255);

    Line1 = new QFrame(this);
    Line1->setObjectName(QStringLiteral("Line1"));
    Line1->setFrameShape(QFrame::HLine);
    Line1->setFrameShadow(QFrame::Sunken);
    const QRect line = twipsRect(120, 960, 4320 - 120, 0, this);
    Line1->setGeometry(line.x(), line.y() - 1, line.width(), 2);

    connect(OKButton, &QPushButton::clicked, this, &FrmDialog::OKButton_Click);
    Form_Load();
}

void FrmDialog::Form_Load()
{
    lblProgram->setText(text::kAppTitle + QStringLiteral("\nverzija 1.0"));
    lblAutor->setText(QStringLiteral("Razvojni tim programa Pelinor"));
}

void FrmDialog::OKButton_Click()
{
    hide();
}

void FrmDialog::closeEvent(QCloseEvent* event)
{
    QDialog::closeEvent(event);
    // The close box unloads the box; the next about command loads a new one.
    if (event->isAccepted()) deleteLater();
}

} // namespace pelinor
