// The evidence report: one self-contained HTML page that a third party can read and print,
// showing which picture a suspect copy was made from, how it was brought onto it, the
// figures of every key tested, the hashes of every file and the rule that decided.
#pragma once

#include "image/picture.h"
#include "watermark/registration.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pelinor::cli {

struct EvidenceKey {
    std::string recipient; // or the watermark file's name
    bool found = false;
    double similarity = 0.0;
    double z = 0.0;
    // Natural logarithms (watermark/evidence.h); NaN where the figure does not hold.
    double logFalsePositive = 0.0; // this key alone
    double logFamilyWise = 0.0; // any of the keys tested
    int length = 0;
    double alpha = 0.0;
    std::string keySha256;
    // The catalogue's record of the copy, when there is one.
    std::string marked; // ISO 8601
    std::string output;
    std::string outputSha256;
    std::optional<double> psnr;
};

struct EvidencePage {
    std::string verdict; // one sentence, as the command printed it
    std::string suspectPath, suspectSha256;
    std::string originalPath, originalSha256; // empty: no original was confirmed
    std::string note; // what else the reader should know (may be empty)
    const Picture* original = nullptr;
    const Picture* suspect = nullptr;
    const Picture* onGrid = nullptr; // the suspect as tested, on the original's grid
    std::optional<Registration> registration;
    std::vector<EvidenceKey> keys; // best first
    std::size_t keysTested = 0;
    std::string rule; // the rule in words
    std::string commandLine;
    std::string date; // ISO 8601, UTC
};

std::string evidenceHtml(const EvidencePage& page);

// The picture made smaller, to at most maxSide pixels on its longer side, as a data: URI
// (JPEG), for an <img> that needs nothing from outside the page.
std::string pictureDataUri(const Picture& picture, int maxSide);
// How a and b differ, pixel by pixel, |luminance a - luminance b| times `gain`, dark on
// white. Both must have the same size.
PictureRef differencePicture(const Picture& a, const Picture& b, int gain);
std::string base64(const std::vector<std::uint8_t>& bytes);

// A command line as a shell would take it back: arguments quoted where needed.
std::string shellLine(const std::vector<std::string>& words);

} // namespace pelinor::cli
