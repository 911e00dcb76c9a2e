// hollowbox-vault executable: console wiring around VaultToolMain.
#include <csignal>
#include <iostream>

#include "cli/ToolPlatform.h"
#include "cli/VaultTool.h"

static void OnInterrupt(int) { RequestVaultToolStop(); }

int main(int argc, char** argv) {
    hbcli::SetStdoutBinary();  // cat writes entry bytes as they are
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    int rc = VaultToolMain(argc, argv, std::cout, std::cerr);
    std::cout.flush();
    if (!std::cout) {
        std::cerr << "hollowbox-vault: error writing to standard output\n";
        if (rc == 0) rc = 1;
    }
    return rc;
}
