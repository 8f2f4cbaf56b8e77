#include "app/command_line.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
    KeepFreedMemoryForReuse();
    return RunCommandLine(argc, argv);
}
