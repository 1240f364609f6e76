#include "image/atomic_file.h"
#include "obrada/error.h"

namespace pelinor {

void writeFileAtomic(const std::string&, std::span<const std::uint8_t>) { throw Error(err::InvalidCall, "not implemented yet"); }
void writeFileAtomic(const std::string&, const std::string&) { throw Error(err::InvalidCall, "not implemented yet"); }
std::vector<std::uint8_t> readFileBytes(const std::string&, std::size_t) { throw Error(err::InvalidCall, "not implemented yet"); }

}  // namespace pelinor
