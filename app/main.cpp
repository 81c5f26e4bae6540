#include <cstdio>
#include <exception>

#include "app/run_driver.h"

int main(int argc, char** argv) {
    try {
        return RunProgram(argc, argv);
    } catch (const std::exception& error) {
        // A backstop only: no operation of ours lets an exception out on purpose.
        std::printf("%s\n", error.what());
        return 1;
    }
}
