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

// The three boxes: the caption that titles the file dialog and names the box in a failure
// when it is empty, and whether it takes a picture. Pictures are offered as in the main
// window's open command (the bitmaps first), so that a marked copy in any format can be chosen.
struct Box {
    const char* caption;
    const char* unset;
    bool picture;
};
constexpr Box kBoxes[3] = {{"Originalna slika", "nije zadana", true}, {"Originalni žig", "nije zadan", false},
    {"Slika s žigom", "nije zadana", true}};

// The box whose file a failure of the detection itself concerns, or -1 for none.
int culpritOf(int number)
{
    switch (number) {
    case err::ZeroAlpha:
    case err::ZeroWatermark:
    case err::Overflow:
        return 1;
    case err::TooFewCoefficients:
        return 0;
    case err::SizeMismatch:
        return 2;
    default:
        return -1;
    }
}

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
    const Box& box = kBoxes[Index];
    m_cdlDat.setTitle(QString::fromUtf8(box.caption));
    m_cdlDat.setFilter(box.picture ? text::kPictureFilter : QStringLiteral("Žig (*.wmk)|*.wmk"));
    if (const std::optional<QString> chosen = m_cdlDat.showOpen(this)) txtParametar[Index]->setText(*chosen);
}

void FrmTest::cmdTestiraj_Click()
{
    m_reading = -1;
    try {
        runTest();
    } catch (...) {
        // The hourglass guard is already gone: the message comes with the normal pointer.
        const Error error = currentError();
        if (error.number() == err::NotAlignable) {
            // Not a failure of the program but an answer about the picture, in the dialog's terms.
            m_ui.message(this, text::kNotACopyText + u'\n' + text::kNotFoundText, MessageIcon::Information,
                text::kAppTitle);
            return;
        }
        const int box = m_reading >= 0 ? m_reading : culpritOf(error.number());
        const QString what = QStringLiteral("Žig se ne može testirati.");
        QString message = failureMessage(what, QString(), error);
        if (box >= 0) {
            // The file concerned, or the box's caption when it is empty.
            const QString file = txtParametar[box]->text();
            if (!file.isEmpty())
                message = failureMessage(what, file, error);
            else
                message = failureMessage(what, QString::fromUtf8(kBoxes[box].caption),
                    QString::fromUtf8(kBoxes[box].unset), error);
        }
        m_ui.message(this, message, MessageIcon::Critical, text::kAppTitle);
    }
}

void FrmTest::runTest()
{
    const QString only24 = fromView(kOnly24BitText);
    m_reading = 0;
    picOriginal->setPicture(loadOrClear(txtParametar[0]->text()));
    m_reading = 2;
    picOznacena->setPicture(loadOrClear(txtParametar[2]->text()));
    m_reading = 1;
    const Watermark watermark = readWatermark(txtParametar[1]->text().toStdString());
    requireUsableWatermark(watermark); // a watermark that gives no similarity, before the notice
    m_reading = -1;

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
        // the step-by-step detection's figure; only a copy of another size is registered onto the original
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
