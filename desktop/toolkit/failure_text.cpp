#include "desktop/toolkit/failure_text.h"

#include "base/error.h"

#include <QRegularExpression>
#include <exception>
#include <new>
#include <utility>

namespace pelinor {

namespace {

// Every error number the core uses, with its reason. Overflow only ever comes from a
// watermark's numbers, not from a picture.
const std::pair<int, const char*> kReasons[] = {
    {err::InvalidCall, "neispravan poziv u programu"},
    {err::Overflow, "vrijednosti žiga prevelike su za računanje"},
    {err::OutOfMemory, "nema dovoljno memorije"},
    {err::PixelBudget, "slika je veća od granice broja piksela"},
    {err::SubscriptOutOfRange, "neispravna duljina ili veličina podataka"},
    {err::DivisionByZero, "dijeljenje s nulom"},
    {err::TypeMismatch, "vrijednost u datoteci nije ispravan broj"},
    {err::FileNotFound, "datoteka ne postoji"},
    {err::DeviceIo, "pogreška pri čitanju ili pisanju"},
    {err::DiskFull, "disk je pun"},
    {err::InputPastEnd, "datoteka završava prije svih najavljenih vrijednosti"},
    {err::PermissionDenied, "pristup nije dopušten"},
    {err::PathAccess, "putanji se ne može pristupiti"},
    {err::PathNotFound, "mapa ne postoji"},
    {err::InvalidPicture, "datoteka nije slika koju program može pročitati"},
    {err::Not24Bit, "slika nije 24-bitna"},
    {err::SizeMismatch, "slike nisu jednakih dimenzija"},
    {err::ZeroAlpha, "alfa faktor žiga je 0"},
    {err::ZeroWatermark, "sve vrijednosti žiga su 0"},
    {err::TooFewCoefficients, "slika nema dovoljno koeficijenata različitih od nule za sve vrijednosti žiga"},
    {err::NothingEmbedded, "žig ne mijenja nijedan piksel slike (alfa faktor je premalen)"},
    {err::NotAlignable, "slika s žigom nije kopija originalne slike (ne može se poravnati s njom)"},
    {err::BadCatalogue, "katalog je oštećen, tuđ ili iz novije inačice programa"},
    {err::CatalogueBusy, "katalog je predugo zauzet drugom naredbom"},
};

} // namespace

Error currentError()
{
    try {
        throw;
    } catch (const Error& error) {
        return error;
    } catch (const std::bad_alloc&) {
        return Error(err::OutOfMemory, "Out of memory");
    } catch (const std::exception& error) {
        return Error(0, error.what());
    } catch (...) {
        return Error(0, "Unknown failure");
    }
}

std::optional<QString> croatianReason(int number)
{
    for (const auto& [known, reason] : kReasons)
        if (known == number) return QString::fromUtf8(reason);
    return std::nullopt;
}

QString failureReason(const Error& error)
{
    const QString text = QString::fromUtf8(error.what());
    if (error.number() == err::PixelBudget) {
        // The refusal names the picture's size and the limit (checkPixelBudget); both are worth saying.
        static const QRegularExpression budget(QStringLiteral(
            R"(^Out of memory: a (\d+) x (\d+) picture \(([\d.]+) megapixels\) is over the limit of ([\d.]+) megapixels)"));
        if (const QRegularExpressionMatch m = budget.match(text); m.hasMatch()) {
            const auto decimal = [&](int n) { return m.captured(n).replace(u'.', u','); };
            return QStringLiteral(
                "slika od %1 x %2 piksela (%3 megapiksela) veća je od granice od %4 megapiksela")
                .arg(m.captured(1), m.captured(2), decimal(3), decimal(4));
        }
        // The image windows' shared budget (FrmSlika): the picture, the budget and what the
        // open windows hold, so that the user knows closing some makes room.
        static const QRegularExpression windows(QStringLiteral(
            R"(^Out of memory: a picture of ([\d.]+) megapixels does not fit in the limit of ([\d.]+) megapixels for all windows: the open windows hold ([\d.]+) megapixels$)"));
        if (const QRegularExpressionMatch m = windows.match(text); m.hasMatch()) {
            const auto decimal = [&](int n) { return m.captured(n).replace(u'.', u','); };
            return QStringLiteral(
                "slika od %1 megapiksela ne stane u granicu od %2 megapiksela za sve prozore: "
                "otvoreni prozori već drže %3 megapiksela (zatvorite neki od njih)")
                .arg(decimal(1), decimal(2), decimal(3));
        }
    }
    if (error.number() == err::OutOfMemory && text.startsWith(QLatin1String("File too large")))
        return QStringLiteral("datoteka je prevelika");
    return croatianReason(error.number()).value_or(QStringLiteral("neočekivana pogreška"));
}

QString failureMessage(const QString& what, const QString& label, const QString& name, const Error& error)
{
    QString message = what + QStringLiteral("\n\n");
    if (!name.isEmpty()) message += label + QStringLiteral(": ") + name + u'\n';
    return message + QStringLiteral("Razlog: ") + failureReason(error) + QStringLiteral(" (pogreška ")
        + QString::number(error.number()) + QStringLiteral(").");
}

QString failureMessage(const QString& what, const QString& path, const Error& error)
{
    return failureMessage(what, QStringLiteral("Datoteka"), path, error);
}

} // namespace pelinor
