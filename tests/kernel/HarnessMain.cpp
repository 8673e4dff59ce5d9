// The harness binary plugs USB gadgets into the machine it runs on: it runs only inside
// the harness's guest, whose /init says so in the environment.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    const char* guest = std::getenv("OSTREL_KERNEL_HARNESS_GUEST");
    if (guest == nullptr || std::strcmp(guest, "1") != 0) {
        std::fprintf(stderr,
                     "%s: runs only inside the kernel harness's QEMU guest "
                     "(tests/kernel/run-harness.sh, or ctest -L kernel): it creates USB "
                     "gadgets on the machine it runs on\n",
                     argv[0]);
        return 2;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
