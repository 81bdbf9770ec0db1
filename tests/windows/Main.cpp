// The Windows test program: runs every registered test, or those whose name
// contains the first argument.
#include "tests/windows/Harness.h"

int main(int argc, char** argv) {
    const std::string filter = argc > 1 ? argv[1] : "";
    return wintest::RunAll(filter) == 0 ? 0 : 1;
}
