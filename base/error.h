// The one error type the core throws: a run-time error number and a clear text.
#pragma once

#include <stdexcept>
#include <string>

namespace pelinor {

// Run-time error numbers. The classic ones keep their traditional values so that
// messages read the same as users of such tools expect; 1000 and up are ours.
namespace err {
inline constexpr int InvalidCall = 5;
inline constexpr int Overflow = 6;
inline constexpr int OutOfMemory = 7;
inline constexpr int SubscriptOutOfRange = 9;
inline constexpr int DivisionByZero = 11;
inline constexpr int TypeMismatch = 13;
inline constexpr int FileNotFound = 53;
inline constexpr int DeviceIo = 57;
inline constexpr int DiskFull = 61;
inline constexpr int InputPastEnd = 62;
inline constexpr int PermissionDenied = 70;
inline constexpr int PathAccess = 75;
inline constexpr int PathNotFound = 76;
inline constexpr int InvalidPicture = 481;
// Ours.
inline constexpr int Not24Bit = 1001; // text is exactly kOnly24BitText
inline constexpr int SizeMismatch = 1002; // suspect and original differ in size
inline constexpr int ZeroAlpha = 1003; // alpha = 0 cannot be extracted
inline constexpr int ZeroWatermark = 1004; // every watermark value is 0
inline constexpr int TooFewCoefficients = 1005; // the picture cannot hold every watermark value
inline constexpr int NothingEmbedded = 1006; // the marked picture came out identical to the source
inline constexpr int PixelBudget = 1007; // a picture over the command's pixel budget, from its header
inline constexpr int NotAlignable = 1010; // the suspect cannot be registered onto the original
inline constexpr int BadCatalogue = 1020; // a catalogue file that is damaged, foreign or newer
inline constexpr int CatalogueBusy = 1021; // another command held the catalogue too long
} // namespace err

// Error texts speak in one voice: a capitalised statement of what is wrong that names the
// values involved, without a full stop. A classic number's text starts with that error's
// name ("Subscript out of range: ...", "Out of memory: ..."); the file a failure concerns is
// added by whoever knows it.
class Error : public std::runtime_error {
public:
    Error(int number, const std::string& text)
        : std::runtime_error(text)
        , m_number(number)
    {
    }
    int number() const noexcept { return m_number; }

private:
    int m_number;
};

// A picture's or an array's size as every message writes it: "512 x 384".
inline std::string sizeText(long long width, long long height)
{
    return std::to_string(width) + " x " + std::to_string(height);
}

} // namespace pelinor
