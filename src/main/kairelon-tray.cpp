// kairelon-tray: the tray program, which `kairelon` without a mode (or with --quit) becomes.
#include "app/CommandLine.h"
#include "app/TrayProgram.h"

int main(int argc, char** argv) {
    return kairelon::RunKairelon(argc, argv, kairelon::RunTrayRequest);
}
