// The test program runs under umockdev's preload library, which shows libusb the emulated
// reader; it starts itself again with it when needed.
#include <gtest/gtest.h>

#include "tools/rcs380_emulator/usb_rcs380.h"

int main(int argc, char** argv) {
    port100::run_under_umockdev_preload(argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
