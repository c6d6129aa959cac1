#include "app/setup/DisplayMode.h"

#include <initializer_list>

int32_t bitsPerPixelFromChannels(int red, int green, int blue) {
    int64_t sum = 0;
    for (int bits : {red, green, blue}) {
        if (bits > 0) {
            sum += bits;
        }
    }
    int64_t bytes = (sum + 7) / 8;
    if (bytes == 3) {
        bytes = 4;
    }
    return static_cast<int32_t>(bytes * 8 > INT32_MAX ? INT32_MAX : bytes * 8);
}
