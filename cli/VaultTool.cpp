// hollowbox-vault: the command table, the general help built from it, and dispatch to the commands.
#include "cli/VaultTool.h"

#include <iostream>
#include <string>
#include <vector>

#include "cli/ToolCommon.h"
#include "cli/ToolPlatform.h"

namespace hbcli {
namespace {

struct ToolCommand {
    const char* name;
    const char* synopsis;  // its line in the general help, after the name
    const char* summary;   // what it does, in a few words
    const char* help;      // "COMMAND --help"
    std::vector<OptionSpec> options;
    int (*run)(Session&, const Arguments&);
};

// A new command needs a row here (in the order the general help lists
// them), its help text in ToolCommon and its Command function.
const std::vector<ToolCommand>& Commands() {
    static const std::vector<ToolCommand> kCommands = {
        {"list", "VAULT", "list the entries", kListHelp, {{"--json", nullptr, false}, kCodePageOption}, CommandList},
        {"add", "VAULT PATH...", "add files and folder trees", kAddHelp,
         {{"--journal", nullptr, true}, {"--replace", nullptr, false}, {"--update", "-u", false},
          {"--threads", nullptr, true}, kCodePageOption},
         CommandAdd},
        {"extract", "VAULT [NAME...] -d DIR", "unpack entries (all, or the named ones) into DIR", kExtractHelp,
         {{"--dir", "-d", true}, {"--overwrite", "-o", false}, {"--threads", nullptr, true}, kCodePageOption},
         CommandExtract},
        {"cat", "VAULT NAME", "write one entry's data to standard output", kCatHelp, {kCodePageOption}, CommandCat},
        {"check", "VAULT", "verify every record and every entry's CRC-32", kCheckHelp, {kCodePageOption}, CommandCheck},
        {"delete", "VAULT NAME...", "delete entries and folder trees, in place", kDeleteHelp,
         {{"--journal", nullptr, true}, kCodePageOption}, CommandDelete},
        {"rename", "VAULT OLD NEW", "rename an entry or a folder tree, in place", kRenameHelp,
         {{"--journal", nullptr, true}, kCodePageOption}, CommandRename},
        {"recover", "VAULT [--journal FILE]", "finish an interrupted add or delete", kRecoverHelp,
         {{"--journal", nullptr, true}}, CommandRecover},
    };
    return kCommands;
}

const ToolCommand* FindCommand(const std::string& name) {
    for (const ToolCommand& c : Commands())
        if (name == c.name) return &c;
    return nullptr;
}

// The summaries line up in one column; a command line that reaches into it
// puts its summary on the next line.
std::string ToolHelp() {
    constexpr size_t kSummaryColumn = 31;
    std::string text = kToolHelpHead;
    for (const ToolCommand& c : Commands()) {
        std::string line = std::string("  ") + c.name + " " + c.synopsis;
        if (line.size() < kSummaryColumn) line.append(kSummaryColumn - line.size(), ' ');
        else line += "\n" + std::string(kSummaryColumn, ' ');
        text += line + c.summary + "\n";
    }
    return text + kToolHelpTail;
}

}  // namespace
}  // namespace hbcli

void RequestVaultToolStop() { hbcli::g_stopRequested = 1; }

int VaultToolMain(int argc, char** argv, std::ostream& out, std::ostream& err) {
    using namespace hbcli;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i] ? argv[i] : "");
    if (args.empty()) {
        err << ToolHelp();
        return kExitUsage;
    }
    const std::string command = args[0];
    if (command == "--help" || command == "-h" || command == "help") {
        if (args.size() > 1) {
            const ToolCommand* asked = FindCommand(args[1]);
            if (!asked) {
                err << kTool << ": unknown command \"" << args[1] << "\"\n";
                return kExitUsage;
            }
            out << asked->help;
        } else {
            out << ToolHelp();
        }
        return kExitOk;
    }
    const ToolCommand* cmd = FindCommand(command);
    if (!cmd) {
        err << kTool << ": unknown command \"" << command << "\"\n" << ToolHelp();
        return kExitUsage;
    }

    g_stopRequested = 0;
    bool progress = &err == &ToolStderr() && StderrIsTerminal();
    Session session(cmd->name, out, err, progress);
    try {
        Arguments parsed = ParseArguments(std::vector<std::string>(args.begin() + 1, args.end()), cmd->options);
        if (parsed.help) {
            out << cmd->help;
            return kExitOk;
        }
        ApplyCodePageOption(parsed);
        return cmd->run(session, parsed);
    } catch (const UsageError& e) {
        err << kTool << ": " << command << ": " << e.message << "\n" << cmd->help;
        return kExitUsage;
    }
}
