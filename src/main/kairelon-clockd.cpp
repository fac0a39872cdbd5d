// kairelon-clockd: the clock-setting service (daemons/ClockServiceProgram.h); its messages go
// to standard error, one line each.
#include "daemons/ClockServiceProgram.h"
#include "platform/DebugOutput.h"

int main(int argc, char** argv) {
    return kairelon::ClockServiceMain(argc, argv, [](const std::string& line) {
        kairelon::OutputDebugString("kairelon-clockd: " + line);
    });
}
