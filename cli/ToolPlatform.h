// The few operating-system services the vault tool needs beyond the file
// layer: folder listings, path identity, full paths and console state. One
// implementation per platform; no platform header is included here.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace hbcli {

enum class NodeKind {
    File,          // a regular file
    Folder,        // a real folder
    FolderLink,    // a symbolic link or junction to a folder (not followed)
    Other,         // device, pipe, socket, dangling link
};

struct FolderItem {
    std::string name;  // leaf name only
    NodeKind kind = NodeKind::Other;
};

// The entries of a folder, "." and ".." left out, in no particular order.
// False when the folder cannot be read.
bool ListFolder(const std::string& path, std::vector<FolderItem>* items);

// The kind of path itself; symbolic links given by the user are followed.
// False when it does not exist or cannot be examined.
bool ClassifyPath(const std::string& path, NodeKind* kind);

// What is at path itself; a link (symbolic link, junction or other reparse
// point) is reported as a link and never followed.
enum class PathState { Missing, File, Folder, Link, Other };
PathState InspectNoFollow(const std::string& path);

// True when both paths name the same existing file.
bool SameFile(const std::string& a, const std::string& b);

// An absolute form of path with "." and ".." components resolved and
// separators made uniform.
std::string FullPath(const std::string& path);

// Where the tool keeps the add journal unless told otherwise. Windows: the
// program's own place, the user's temporary folder. POSIX: $TMPDIR when it
// is set, else a folder of this user's below /tmp (PrivateFolder), since
// /tmp is shared with every other user. False, with why, when no safe place
// can be had.
bool DefaultJournalPath(std::string* path, std::string* why);

// POSIX: the folder base/hollowbox-UID, made with mode 0700 when missing; an
// existing one must be a real folder (not a link) owned by this user, and is
// made private again when others may enter it. Windows: base itself. The
// result ends in a separator.
bool PrivateFolder(const std::string& base, std::string* folder, std::string* why);

// The tool's standard output and error for UTF-8 text. POSIX: std::cout
// and std::cerr. Windows: to a console as wide text (WriteConsoleW), to a
// file or pipe as the UTF-8 bytes (standard error with CR LF line ends).
std::ostream& ToolStdout();
std::ostream& ToolStderr();

bool StderrIsTerminal();
// Switches the process's standard output to binary (no newline
// translation); nothing to do outside Windows.
void SetStdoutBinary();

}  // namespace hbcli
