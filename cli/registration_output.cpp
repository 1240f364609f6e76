#include "cli/registration_output.h"

#include "cli/io.h"

#include <cmath>
#include <cstdio>

namespace pelinor::cli {

RegisterMode registerMode(const ParsedArgs& args)
{
    const std::string mode = args.value("--register").value_or("auto");
    if (mode == "auto") return RegisterMode::Auto;
    if (mode == "always") return RegisterMode::Always;
    if (mode == "never") return RegisterMode::Never;
    throw UsageError("--register: '" + mode + "' is not auto, always or never");
}

void addRegistration(JsonObject& json, const std::optional<Registration>& registration)
{
    if (!registration) {
        json.addNull("registration");
        return;
    }
    const Registration& r = *registration;
    JsonObject border;
    border.add("left", r.border.left)
        .add("top", r.border.top)
        .add("right", r.border.right)
        .add("bottom", r.border.bottom);
    JsonObject o;
    o.add("method", r.method)
        .add("model", r.model)
        .add("scale", r.scale)
        .add("scale_x", r.scaleX)
        .add("scale_y", r.scaleY)
        .add("rotation_deg", r.rotationDeg)
        .add("orientation", r.orientation)
        .add("shift_x", r.shiftX)
        .add("shift_y", r.shiftY)
        .add("mirrored", r.mirrored)
        .add("border", border)
        .add("coverage", r.coverage)
        .add("gain", r.gain)
        .add("tone", r.tone)
        .add("image_correlation", r.imageCorrelation);
    o.add("transform", std::span<const double>(r.transform));
    json.add("registration", o);
}

std::string registrationText(const std::optional<Registration>& registration)
{
    if (!registration) return "registration: none";
    const Registration& r = *registration;
    char text[512];
    char scale[64];
    if (std::fabs(r.scaleX - r.scaleY) < 5e-4 * r.scale)
        std::snprintf(scale, sizeof scale, "scale %.4f", r.scale);
    else
        std::snprintf(scale, sizeof scale, "scale %.4f x %.4f", r.scaleX, r.scaleY);
    char border[96] = "";
    if (r.border.any())
        std::snprintf(border, sizeof border, ", border %d, %d, %d, %d px (left, top, right, bottom)",
            r.border.left, r.border.top, r.border.right, r.border.bottom);
    std::snprintf(text, sizeof text,
        "registration: %s, %s, %s, rotation %.3f deg (orientation %d), shift %.2f, %.2f px%s%s, coverage "
        "%.1f %%, "
        "gain %s, tone %s, image correlation %.4f",
        r.method.c_str(), r.model.c_str(), scale, r.rotationDeg, r.orientation, r.shiftX, r.shiftY,
        r.mirrored ? ", mirrored" : "", border, 100.0 * r.coverage, r.gain.c_str(), r.tone.c_str(),
        r.imageCorrelation);
    return text;
}

void nameUnalignableSuspect(
    const Error& e, const Picture& original, const Picture& suspect, const std::string& suspectPath)
{
    if (e.number() != err::NotAlignable) return;
    throw FileError(suspectPath,
        std::string(e.what()) + " (suspect " + sizeText(suspect.width(), suspect.height()) + ", original "
            + sizeText(original.width(), original.height()) + ")");
}

} // namespace pelinor::cli
