#include "app/run_driver.h"

#include "app/exit_status.h"

int RunProgram(int /*argc*/, char** /*argv*/) {
    return STATUS_USAGE;
}
