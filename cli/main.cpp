// hollowbox-vault executable: console wiring around VaultToolMain. On
// Windows the arguments come in as UTF-16 (wmain) and go on as UTF-8.
#include <csignal>
#include <ostream>
#include <string>
#include <vector>

#include "cli/ToolPlatform.h"
#include "cli/VaultTool.h"
#ifdef _WIN32
#include "vault/fileio/WideText.h"
#endif

static void OnInterrupt(int) { RequestVaultToolStop(); }

static int Run(int argc, char** argv) {
    hbcli::SetStdoutBinary();  // cat writes entry bytes as they are
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    std::ostream& out = hbcli::ToolStdout();
    std::ostream& err = hbcli::ToolStderr();
    int rc = VaultToolMain(argc, argv, out, err);
    out.flush();
    if (!out) {
        err << "hollowbox-vault: error writing to standard output\n";
        if (rc == 0) rc = 1;
    }
    return rc;
}

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) args.push_back(fileio::Narrow(argv[i]));
    std::vector<char*> pointers;
    for (std::string& a : args) pointers.push_back(&a[0]);
    pointers.push_back(nullptr);
    return Run(argc, pointers.data());
}
#else
int main(int argc, char** argv) { return Run(argc, argv); }
#endif
