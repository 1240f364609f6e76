#include "cli/registration_output.h"

#include "cli/io.h"

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
    JsonObject o;
    o.add("method", r.method)
        .add("scale", r.scale)
        .add("rotation_deg", r.rotationDeg)
        .add("shift_x", r.shiftX)
        .add("shift_y", r.shiftY)
        .add("mirrored", r.mirrored)
        .add("coverage", r.coverage)
        .add("tone", r.tone)
        .add("image_correlation", r.imageCorrelation);
    json.add("registration", o);
}

std::string registrationText(const std::optional<Registration>& registration)
{
    if (!registration) return "registration: none";
    const Registration& r = *registration;
    char text[320];
    std::snprintf(text, sizeof text,
        "registration: %s, scale %.4f, rotation %.3f deg, shift %.2f, %.2f px%s, coverage %.1f %%, tone %s, "
        "image correlation %.4f",
        r.method.c_str(), r.scale, r.rotationDeg, r.shiftX, r.shiftY, r.mirrored ? ", mirrored" : "",
        100.0 * r.coverage, r.tone.c_str(), r.imageCorrelation);
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
