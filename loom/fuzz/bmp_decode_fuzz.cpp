// Fuzz target of the BMP reader that checks captured pictures: any bytes must decode or be
// refused, and a decoded picture's every corner pixel must be readable.
#include "loom/bmp_capture.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> bytes(data, data + size);
    loom::BmpImageT image;
    if (loom::decodeBmp(bytes, image))
    {
        uint8_t rgb[3];
        image.pixel(0, 0, rgb);
        image.pixel(image.width - 1, image.height - 1, rgb);
    }
    return 0;
}
