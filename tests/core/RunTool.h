// Runs the vault tool in-process with a command line and collects its exit
// status and both output streams (shared by the tool's tests and the soak).
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "cli/VaultTool.h"

struct ToolRun {
    int rc = -1;
    std::string out;
    std::string err;
};

inline ToolRun RunTool(const std::vector<std::string>& args) {
    std::vector<std::string> all = {"hollowbox-vault"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    std::ostringstream out, err;
    ToolRun r;
    r.rc = VaultToolMain(static_cast<int>(all.size()), argv.data(), out, err);
    r.out = out.str();
    r.err = err.str();
    return r;
}
