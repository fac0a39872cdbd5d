// kairelon: the tray program, and its headless modes for servers and scripts.
#include "app/CommandLine.h"

int main(int argc, char** argv) { return kairelon::RunKairelon(argc, argv); }
