#include "desktop/toolkit/failure_text.h"

#include "base/error.h"

#include <QRegularExpression>
#include <exception>
#include <new>

namespace pelinor {

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

QString failureReason(const Error& error)
{
    switch (error.number()) {
    case err::Overflow: // every overflow comes from a watermark's numbers, not from a picture
        return QStringLiteral("vrijednosti žiga prevelike su za računanje");
    case err::OutOfMemory:
        return QStringLiteral("nema dovoljno memorije");
    case err::PixelBudget: {
        // The refusal names the picture's size and the limit (checkPixelBudget); both are worth saying.
        static const QRegularExpression budget(QStringLiteral(
            R"(^Out of memory: a (\d+) x (\d+) picture \(([\d.]+) megapixels\) is over the limit of ([\d.]+) megapixels)"));
        const QRegularExpressionMatch m = budget.match(QString::fromUtf8(error.what()));
        if (!m.hasMatch()) return QStringLiteral("slika je veća od granice broja piksela");
        const auto decimal = [&](int n) { return m.captured(n).replace(u'.', u','); };
        return QStringLiteral(
            "slika od %1 x %2 piksela (%3 megapiksela) veća je od granice od %4 megapiksela")
            .arg(m.captured(1), m.captured(2), decimal(3), decimal(4));
    }
    case err::SubscriptOutOfRange:
        return QStringLiteral("neispravna duljina ili veličina podataka");
    case err::DivisionByZero:
        return QStringLiteral("dijeljenje s nulom");
    case err::TypeMismatch:
        return QStringLiteral("vrijednost u datoteci nije ispravan broj");
    case err::FileNotFound:
        return QStringLiteral("datoteka ne postoji");
    case err::DeviceIo:
        return QStringLiteral("pogreška pri čitanju ili pisanju");
    case err::DiskFull:
        return QStringLiteral("disk je pun");
    case err::InputPastEnd:
        return QStringLiteral("datoteka završava prije svih najavljenih vrijednosti");
    case err::PermissionDenied:
        return QStringLiteral("pristup nije dopušten");
    case err::PathAccess:
        return QStringLiteral("putanji se ne može pristupiti");
    case err::PathNotFound:
        return QStringLiteral("mapa ne postoji");
    case err::InvalidPicture:
        return QStringLiteral("datoteka nije slika koju program može pročitati");
    case err::Not24Bit:
        return QStringLiteral("slika nije 24-bitna");
    case err::SizeMismatch:
        return QStringLiteral("slike nisu jednakih dimenzija");
    case err::ZeroAlpha:
        return QStringLiteral("alfa faktor žiga je 0");
    case err::ZeroWatermark:
        return QStringLiteral("sve vrijednosti žiga su 0");
    case err::TooFewCoefficients:
        return QStringLiteral("slika nema dovoljno koeficijenata različitih od nule za sve vrijednosti žiga");
    case err::NothingEmbedded:
        return QStringLiteral("žig ne mijenja nijedan piksel slike (alfa faktor je premalen)");
    case err::NotAlignable:
        return QStringLiteral("slika s žigom ne može se poravnati s originalnom slikom");
    default:
        return QString::fromUtf8(error.what());
    }
}

QString failureMessage(const QString& what, const QString& path, const Error& error)
{
    return what + QStringLiteral("\n\nDatoteka: ") + path + QStringLiteral("\nRazlog: ")
        + failureReason(error) + QStringLiteral(" (pogreška ") + QString::number(error.number())
        + QStringLiteral(").");
}

QString runtimeErrorMessage(const Error& error)
{
    // The Croatian reason first, then the core's own text with the details it names
    // (the file, the sizes).
    const QString core = QString::fromUtf8(error.what());
    const QString reason = failureReason(error);
    QString head = QStringLiteral("Pogreška ") + QString::number(error.number()) + u':';
    if (reason != core) head += u' ' + reason + u'.';
    return head + QStringLiteral("\n\n") + core;
}

} // namespace pelinor
