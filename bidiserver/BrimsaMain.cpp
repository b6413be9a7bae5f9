// Brimsa, the two-way server: serves BiDiService on the endpoint named after the data file
// for the print-server library named by its one argument, until the watchdog finds it idle.
// Every failure ends the program at once with exit code 0.
#include <windows.h>

#include "bidiserver/BiDiServer.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 2 || !argv[1]) return 0;
    CBiDiServer* server = CBiDiServer::Instance(argv[1]);
    if (!server || !server->GetTable()) return 0;
    ServeBiDiEndpoint(server);
    return 0;
}
