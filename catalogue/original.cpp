#include "catalogue/original.h"

#include "catalogue/fingerprint.h"
#include "catalogue/sha256.h"

#include <filesystem>

namespace pelinor {

OriginalRecord describeOriginal(const std::string& path, const Picture& picture)
{
    OriginalRecord r;
    r.path = absolutePath(path);
    r.sha256 = sha256File(path);
    std::error_code ec;
    r.size = static_cast<long long>(std::filesystem::file_size(path, ec));
    r.format = picture.source().known ? formatName(picture.source().format) : "unknown";
    r.width = picture.width();
    r.height = picture.height();
    r.fingerprint = encodeFingerprint(fingerprintOf(picture));
    return r;
}

std::string absolutePath(const std::string& path)
{
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::absolute(path, ec);
    return ec ? path : p.lexically_normal().string();
}

} // namespace pelinor
