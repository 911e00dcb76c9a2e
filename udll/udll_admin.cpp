// udll-admin: sets up and shows the emulated secure area of a drive, for tests
// and the run scripts.
//
//   udll-admin list
//   udll-admin show X:
//   udll-admin set X: [--password P | --no-password] [--hint H | --no-hint]
//                     [--state N]
//   udll-admin clear X:
//
// "set" changes only the given fields (a missing or damaged area starts from
// no password, no hint, state 0).  --state takes decimal or 0x-hex; its bit
// 0x10 also switches the read-only attribute of the vault folder's files, as
// the library's write protection does.  "clear" removes the area and lifts
// the protection.  Exit status: 0 done, 1 failed, 2 bad usage.
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "SecureArea.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: udll-admin list\n"
               "       udll-admin show X:\n"
               "       udll-admin set X: [--password P | --no-password] [--hint H | --no-hint]"
               " [--state N]\n"
               "       udll-admin clear X:\n");
  return 2;
}

void PrintText(const char* label, bool has, const std::string& text) {
  if (!has) {
    std::printf("%s(none)\n", label);
    return;
  }
  std::printf("%s\"", label);
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') std::putchar(c);
    else std::printf("\\x%02x", c);
  }
  std::printf("\"\n");
}

int Show(char drive) {
  udll::SecureArea area;
  udll::LoadResult r = udll::LoadSecureArea(drive, area);
  std::printf("drive: %c: (%s)\n", drive, udll::IsRemovableDrive(drive) ? "removable" : "not removable");
  std::printf("file: %s (%s)\n", udll::SecureFilePath(drive).c_str(),
              r == udll::LoadResult::Ok ? "ok" : r == udll::LoadResult::Missing ? "missing" : "damaged");
  PrintText("password: ", area.hasPassword, area.password);
  PrintText("hint: ", area.hasHint, area.hint);
  std::printf("state: 0x%lx\n", static_cast<unsigned long>(area.state));
  return 0;
}

bool ParseState(const char* text, uint32_t& value) {
  if (!text || !*text || *text == '-') return false;
  char* end = nullptr;
  errno = 0;
  unsigned long long v = std::strtoull(text, &end, 0);
  if (errno || *end || v > 0xFFFFFFFFull) return false;
  value = static_cast<uint32_t>(v);
  return true;
}

int Set(char drive, int argc, char** argv) {
  udll::SecureArea area;
  if (udll::LoadSecureArea(drive, area) == udll::LoadResult::Damaged)
    area = udll::SecureArea();  // replaced; the "damaged" bit is not kept
  bool stateGiven = false;
  for (int i = 0; i < argc; ++i) {
    const std::string opt = argv[i];
    const bool hasValue = i + 1 < argc;
    if (opt == "--password" && hasValue) {
      area.password = argv[++i];
      area.hasPassword = !area.password.empty();
      if (!udll::IsValidPassword(area.password)) {
        std::fprintf(stderr, "udll-admin: a password has at most %u characters\n",
                     static_cast<unsigned>(udll::kMaxPassword));
        return 2;
      }
    } else if (opt == "--no-password") {
      area.hasPassword = false;
      area.password.clear();
    } else if (opt == "--hint" && hasValue) {
      area.hint = argv[++i];
      area.hasHint = true;
      if (!udll::IsValidHint(area.hint)) {
        std::fprintf(stderr, "udll-admin: a hint has at most %u characters\n",
                     static_cast<unsigned>(udll::kMaxHint));
        return 2;
      }
    } else if (opt == "--no-hint") {
      area.hasHint = false;
      area.hint.clear();
    } else if (opt == "--state" && hasValue) {
      if (!ParseState(argv[++i], area.state)) {
        std::fprintf(stderr, "udll-admin: bad state value '%s'\n", argv[i]);
        return 2;
      }
      stateGiven = true;
    } else {
      return Usage();
    }
  }
  if (stateGiven &&
      !udll::ApplyVaultProtection(drive, (area.state & udll::kStateWriteProtected) != 0)) {
    std::fprintf(stderr, "udll-admin: cannot switch write protection of %s\n",
                 udll::VaultFolderPath(drive).c_str());
    return 1;
  }
  if (!udll::SaveSecureArea(drive, area)) {
    std::fprintf(stderr, "udll-admin: cannot write %s (error %lu)\n",
                 udll::SecureFilePath(drive).c_str(), GetLastError());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string cmd = argv[1];
  if (cmd == "list") {
    if (argc != 2) return Usage();
    for (char d : udll::ListRemovableDrives()) std::printf("%c:\n", d);
    return 0;
  }
  if (argc < 3) return Usage();
  const char drive = udll::ParseDriveLetter(argv[2]);
  if (!drive) {
    std::fprintf(stderr, "udll-admin: '%s' is not a drive\n", argv[2]);
    return 2;
  }
  if (cmd == "show" && argc == 3) return Show(drive);
  if (cmd == "set") return Set(drive, argc - 3, argv + 3);
  if (cmd == "clear" && argc == 3) {
    bool ok = udll::ApplyVaultProtection(drive, false);
    ok = udll::RemoveSecureArea(drive) && ok;
    return ok ? 0 : 1;
  }
  return Usage();
}
