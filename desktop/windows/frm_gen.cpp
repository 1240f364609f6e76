#include "desktop/windows/frm_gen.h"

#include "base/error.h"
#include "desktop/toolkit/common_dialog.h"
#include "desktop/toolkit/failure_text.h"
#include "desktop/toolkit/numbers.h"
#include "desktop/toolkit/texts.h"
#include "desktop/toolkit/twips.h"
#include "desktop/toolkit/ui_services.h"
#include "desktop/windows/file_kind.h"
#include "watermark/generator.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <exception>

namespace pelinor {

namespace {

QLineEdit* textBox(QWidget* parent, const char* name, const QString& text)
{
    auto* box = new QLineEdit(text, parent);
    box->setObjectName(QString::fromLatin1(name));
    return box;
}

// A field that does not convert or is out of range.
class BadParameters : public std::exception { };

// Failures of the file itself (its folder, its permissions, the disk), as opposed to values
// that cannot be generated.
bool isFileFailure(int number)
{
    switch (number) {
    case err::FileNotFound:
    case err::DeviceIo:
    case err::DiskFull:
    case err::PermissionDenied:
    case err::PathAccess:
    case err::PathNotFound:
        return true;
    default:
        return false;
    }
}

double toDouble(const QLineEdit* box, const QLocale& locale)
{
    const std::optional<double> value = parseLocaleDouble(box->text(), locale);
    if (!value) throw BadParameters();
    return *value;
}

} // namespace

FrmGen::FrmGen(CommonDialog& cdlDat, UiServices& ui, QWidget* parent)
    : NoCancelDialog(parent,
        Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
            | Qt::MSWindowsFixedSizeDialogHint)
    , m_cdlDat(cdlDat)
    , m_ui(ui)
{
    setObjectName(QStringLiteral("frmGen"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Generiranje žiga"));
    useFormFont(this);
    setFixedSize(twipsToPixelsX(5400, this), twipsToPixelsY(3840, this));

    picGen = new QWidget(this);
    picGen->setObjectName(QStringLiteral("picGen"));
    placeTwips(picGen, 0, 0, 5295, 3735);

    static const char* const labelTexts[5]
        = {"Veličina žiga:", "Alfa faktor:", "Srednja vrijednost:", "Devijacija:", "Naziv datoteke:"};
    static const int labelPlaces[5][4] = {{720, 1080, 1095, 375}, {720, 1560, 1095, 375},
        {720, 2040, 1575, 255}, {720, 2520, 1095, 375}, {240, 120, 3255, 375}};
    for (int i = 0; i < 5; ++i) {
        Label1[i] = new QLabel(QString::fromUtf8(labelTexts[i]), picGen);
        Label1[i]->setObjectName(QStringLiteral("Label1_%1").arg(i));
        Label1[i]->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        placeTwips(Label1[i], labelPlaces[i][0], labelPlaces[i][1], labelPlaces[i][2], labelPlaces[i][3]);
    }

    txtImeDat = textBox(picGen, "txtImeDat", QString());
    placeTwips(txtImeDat, 240, 480, 3615, 315);
    cmdOdaberi = plainButton(picGen, QStringLiteral("cmdOdaberi"), QStringLiteral("&Odaberi"));
    placeTwips(cmdOdaberi, 3960, 450, 1215, 375);
    txtVelicina = textBox(picGen, "txtVelicina", QStringLiteral("100"));
    placeTwips(txtVelicina, 2400, 1080, 1695, 315);
    // The strength is shown in the user's own notation, so that the initial text
    // reads back as 0.3 under a decimal comma too.
    txtAlfa = textBox(picGen, "txtAlfa", formatForDisplay(0.3, m_ui.numberLocale()));
    placeTwips(txtAlfa, 2400, 1560, 1695, 315);
    txtSrednjaVrije = textBox(picGen, "txtSrednjaVrije", QStringLiteral("0"));
    placeTwips(txtSrednjaVrije, 2400, 2040, 1695, 315);
    txtDev = textBox(picGen, "txtDev", QStringLiteral("1"));
    placeTwips(txtDev, 2400, 2520, 1695, 315);
    cmdGen = plainButton(picGen, QStringLiteral("cmdGen"), QStringLiteral("&Generiraj"));
    placeTwips(cmdGen, 720, 3120, 1695, 495);
    cmdOdustani = plainButton(picGen, QStringLiteral("cmdOdustani"), QStringLiteral("O&dustani"));
    placeTwips(cmdOdustani, 2640, 3120, 1695, 495);

    // Tab order: cmdGen, txtDev, txtSrednjaVrije, txtAlfa, txtVelicina, cmdOdaberi,
    // txtImeDat, then cmdOdustani (labels take no focus).
    const QList<QWidget*> tabOrder
        = {cmdGen, txtDev, txtSrednjaVrije, txtAlfa, txtVelicina, cmdOdaberi, txtImeDat, cmdOdustani};
    for (qsizetype i = 0; i + 1 < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i], tabOrder[i + 1]);
    cmdGen->setFocus();

    connect(cmdOdaberi, &QPushButton::clicked, this, &FrmGen::cmdOdaberi_Click);
    connect(cmdGen, &QPushButton::clicked, this, &FrmGen::cmdGen_Click);
    connect(cmdOdustani, &QPushButton::clicked, this, &FrmGen::cmdOdustani_Click);
}

void FrmGen::cmdOdaberi_Click()
{
    m_cdlDat.setTitle(text::kAppTitle);
    m_cdlDat.setFilter(QStringLiteral("Žigovi (*.wmk)|*.wmk"));
    if (const std::optional<QString> chosen = m_cdlDat.showSave(this)) txtImeDat->setText(*chosen);
}

void FrmGen::cmdGen_Click()
{
    QString fileName;
    try {
        const QLocale locale = m_ui.numberLocale();
        const std::optional<std::int32_t> length = parseLocaleInt32(txtVelicina->text(), locale);
        // A watermark without values cannot be embedded or tested: refused like a bad number.
        if (!length || *length < 1) throw BadParameters();
        const double alpha = toDouble(txtAlfa, locale);
        const double mean = toDouble(txtSrednjaVrije, locale);
        const double deviation = toDouble(txtDev, locale);
        // The file name is taken only after every number converted, so a bad
        // number never creates or truncates a file.
        fileName = txtImeDat->text();
        if (fileName.isEmpty()) throw BadParameters();
        // The shared dialog starts from the last path chosen anywhere, a photograph
        // included: a watermark file is replaced without a question, anything else only on
        // a Yes (a No keeps everything typed, so only the name needs changing).
        if (const FileKind kind = existingFileKind(fileName);
            (kind == FileKind::Picture || kind == FileKind::Other)
            && !m_ui.ask(this,
                QStringLiteral("Datoteka ") + fileName
                    + QStringLiteral(" već postoji i nije datoteka žiga.\nŽelite li je zamijeniti žigom?"),
                text::kAppTitle))
            return;
        CoxGenMark(fileName.toStdString(), alpha, *length, 0, mean, deviation);
    } catch (const Error& error) {
        if (!isFileFailure(error.number())) {
            badParameters();
            return;
        }
        // The numbers were fine: say what went wrong with the file, and keep everything
        // typed so that only the name needs changing.
        m_ui.message(this, failureMessage(QStringLiteral("Žig se ne može spremiti."), fileName, error),
            MessageIcon::Warning, text::kAppTitle);
        return;
    } catch (...) {
        badParameters();
        return;
    }
    m_ui.message(this, QStringLiteral("Generiranje žiga je uspješno obavljeno."), MessageIcon::Information,
        text::kAppTitle);
}

void FrmGen::badParameters()
{
    m_ui.message(this, QStringLiteral("Nepravilno zadane vrijednosti parametara za generiranje žiga"),
        MessageIcon::Warning, text::kAppTitle);
    cmdOdustani_Click();
}

void FrmGen::cmdOdustani_Click()
{
    close();
}

} // namespace pelinor
