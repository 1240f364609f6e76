#include "desktop/windows/frm_test.h"

#include "base/error.h"
#include "desktop/toolkit/common_dialog.h"
#include "desktop/toolkit/failure_text.h"
#include "desktop/toolkit/numbers.h"
#include "desktop/toolkit/picture_area.h"
#include "desktop/toolkit/texts.h"
#include "desktop/toolkit/twips.h"
#include "desktop/toolkit/ui_services.h"
#include "image/image_io.h"
#include "watermark/detector.h"
#include "watermark/watermark_file.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

namespace pelinor {

namespace {

QString fromView(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

QLabel* label(QWidget* parent, const char* name, const QString& caption, int top)
{
    auto* l = new QLabel(caption, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    placeTwips(l, 240, top, 4215, 255);
    return l;
}

// An empty path clears the picture box, which then reads as 0 bits per pixel.
PictureRef loadOrClear(const QString& path)
{
    return path.isEmpty() ? PictureRef() : loadPicture(path.toStdString());
}

struct DialogChoice {
    const char* title;
    const char* filter;
};
constexpr DialogChoice kChoices[3] = {{"Originalna slika", "Bitmape (*.bmp)|*.bmp"},
    {"Originalni žig", "Žig (*.wmk)|*.wmk"}, {"Slika s žigom", "Bitmape (*.bmp)|*.bmp"}};

} // namespace

FrmTest::FrmTest(CommonDialog& cdlDat, UiServices& ui, QWidget* parent)
    : NoCancelDialog(parent,
        Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint
            | Qt::WindowCloseButtonHint)
    , m_cdlDat(cdlDat)
    , m_ui(ui)
{
    setObjectName(QStringLiteral("frmTest"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Testiranje žiga"));
    useFormFont(this);
    resize(twipsToPixelsX(6090, this), twipsToPixelsY(3120, this));

    Label1 = label(this, "Label1", QStringLiteral("Originalna slika:"), 240);
    Label2 = label(this, "Label2", QStringLiteral("Originalni žig:"), 960);
    Label3 = label(this, "Label3", QStringLiteral("Slika s žigom:"), 1680);
    for (int i = 0; i < 3; ++i) {
        txtParametar[i] = new QLineEdit(this);
        txtParametar[i]->setObjectName(QStringLiteral("txtParametar_%1").arg(i));
        placeTwips(txtParametar[i], 240, 480 + 720 * i, 4215, 285);
        cmdOdaberi[i] = plainButton(this, QStringLiteral("cmdOdaberi_%1").arg(i), QStringLiteral("&Odaberi"));
        placeTwips(cmdOdaberi[i], 4680, 435 + 720 * i, 1215, 375);
        connect(cmdOdaberi[i], &QPushButton::clicked, this, [this, i] { cmdOdaberi_Click(i); });
    }
    cmdTestiraj = plainButton(this, QStringLiteral("cmdTestiraj"), QStringLiteral("&Testiraj"));
    placeTwips(cmdTestiraj, 1257, 2415, 1695, 495);
    cmdOdustani = plainButton(this, QStringLiteral("cmdOdustani"), QStringLiteral("O&dustani"));
    placeTwips(cmdOdustani, 3259, 2415, 1575, 495);

    // Held out of sight: moving them off the client area would come to the same as
    // not showing them.
    picOriginal = new PictureArea(this);
    picOriginal->setObjectName(QStringLiteral("picOriginal"));
    placeTwips(picOriginal, 240, 5040, 1575, 735);
    picOriginal->hide();
    picOznacena = new PictureArea(this);
    picOznacena->setObjectName(QStringLiteral("picOznacena"));
    placeTwips(picOznacena, 2160, 5040, 1455, 855);
    picOznacena->hide();

    const QList<QWidget*> tabOrder = {txtParametar[0], txtParametar[1], txtParametar[2], cmdOdaberi[0],
        cmdOdaberi[1], cmdOdaberi[2], cmdTestiraj, cmdOdustani};
    for (qsizetype i = 0; i + 1 < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i], tabOrder[i + 1]);
    txtParametar[0]->setFocus();

    connect(cmdTestiraj, &QPushButton::clicked, this, &FrmTest::cmdTestiraj_Click);
    connect(cmdOdustani, &QPushButton::clicked, this, &FrmTest::cmdOdustani_Click);
}

void FrmTest::cmdOdaberi_Click(int Index)
{
    if (Index < 0 || Index > 2) return;
    m_cdlDat.setTitle(QString::fromUtf8(kChoices[Index].title));
    m_cdlDat.setFilter(QString::fromUtf8(kChoices[Index].filter));
    if (const std::optional<QString> chosen = m_cdlDat.showOpen(this)) txtParametar[Index]->setText(*chosen);
}

void FrmTest::cmdTestiraj_Click()
{
    try {
        runTest();
    } catch (...) {
        // The hourglass guard is already gone: the message comes with the normal pointer.
        m_ui.message(this, runtimeErrorMessage(currentError()), MessageIcon::Critical, text::kAppTitle);
    }
}

void FrmTest::runTest()
{
    const QString only24 = fromView(kOnly24BitText);
    picOriginal->setPicture(loadOrClear(txtParametar[0]->text()));
    picOznacena->setPicture(loadOrClear(txtParametar[2]->text()));
    const Watermark watermark = readWatermark(txtParametar[1]->text().toStdString());

    const PictureRef original = picOriginal->picture();
    if (!is24Bit(original.get())) {
        m_ui.message(this, only24, MessageIcon::Critical, text::kAppTitle);
        return;
    }
    m_ui.message(this, text::kTestNotice, MessageIcon::Information, text::kNoticeTitle);

    DetectResult result;
    {
        WaitCursor hourglass(m_ui);
        const PictureRef marked = picOznacena->picture();
        if (!is24Bit(marked.get())) {
            hourglass.release();
            m_ui.message(this, only24, MessageIcon::Critical, text::kAppTitle);
            return;
        }
        // A picture of the original's size is tested as it stands, so that the dialog shows
        // the design's figure; only a copy of another size is registered onto the original
        // first (one that cannot be aligned is refused). Found means a similarity above 0.7
        // that is also evidence, so that a short watermark never finds an unmarked picture.
        const Reference reference(*original, Depths::Only24Bit);
        DetectOptions options;
        options.mode = RegisterMode::SizesDiffer;
        result = detect(reference, watermark, *marked, DecisionRule::desktop(), options).result;
    }

    const QString verdict = result.found ? text::kFoundText : text::kNotFoundText;
    m_ui.message(this,
        QStringLiteral("Odnos sličnosti između originalnog i izvađenog žiga je ")
            + formatForDisplay(result.similarity, m_ui.numberLocale()) + QLatin1Char('\n') + verdict,
        MessageIcon::Information, text::kAppTitle);
}

void FrmTest::cmdOdustani_Click()
{
    close();
}

void FrmTest::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_centred) return;
    m_centred = true;
    // Centred on the screen rather than over the main window.
    if (const QScreen* screen
        = this->screen() != nullptr ? this->screen() : QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

} // namespace pelinor
