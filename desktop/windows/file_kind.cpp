#include "desktop/windows/file_kind.h"

#include "base/atomic_file.h"
#include "image/image_io.h"
#include "watermark/watermark_file.h"

#include <QFileInfo>
#include <algorithm>
#include <string_view>

namespace pelinor {

FileKind existingFileKind(const QString& path)
{
    const QFileInfo info(path); // through links, as the writers write through them
    if (!info.exists() || info.isDir()) return FileKind::None;
    std::vector<std::uint8_t> head;
    try {
        head = readFileHead(path.toStdString(), std::max(kFormatSignatureBytes, kTagBytes));
    } catch (...) {
        return FileKind::Other;
    }
    if (formatOfContent(head)) return FileKind::Picture;
    if (startsAsWatermarkFile(std::string_view(reinterpret_cast<const char*>(head.data()), head.size())))
        return FileKind::Watermark;
    return FileKind::Other;
}

} // namespace pelinor
