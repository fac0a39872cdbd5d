// kairelon: the headless modes for servers and scripts; the tray program's modes are handed to
// kairelon-tray, so these never load the window libraries.
#include "app/CommandLine.h"

int main(int argc, char** argv) {
    return kairelon::RunKairelon(argc, argv, kairelon::ExecTrayProgram);
}
