// The PC/SC tests' entry point: the private namespaces come first, while the program still
// has a single thread.
#include <gtest/gtest.h>

#include <iostream>

#include "pcscd/sandbox.h"

int main(int argc, char** argv) {
    const pcscd_test::Sandbox sandbox = pcscd_test::enter_sandbox();
    testing::InitGoogleTest(&argc, argv);
    if (!sandbox.entered) {
        std::cerr << "PC/SC tests without a sandbox: " << sandbox.problem << "\n";
    }
    return RUN_ALL_TESTS();
}
