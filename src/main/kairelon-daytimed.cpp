// kairelon-daytimed: the daytime server.
#include "daemons/DaytimeServer.h"

int main(int argc, char** argv) { return kairelon::RunKairelonDaytimed(argc, argv); }
