#include "fuzz_picture.h"
#include "image/codecs/codecs.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return pelinor::fuzz::checkDecoder(pelinor::decodePng, data, size);
}
