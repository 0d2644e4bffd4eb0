#include "app/name_rules.h"

#include <string_view>

#include "app/release_files.h"
#include "inilist/ini_store.h"
#include "platform/platform.h"

bool IsSkippedName(std::string_view name, std::string_view executableName) {
  // Letter case aside, only the same bytes name the same entry: a linguistic comparison would
  // also equate some different byte strings and skip the wrong file.
  if (!name.empty() && name.front() == '.') return true;
  for (std::string_view skipped :
       {std::string_view(kUpdateIniName), std::string_view(kToolExecutableName),
        std::string_view(kUpdaterExecutableName), executableName}) {
    if (platform::EqualIgnoringCase(name, skipped)) return true;
  }
  return false;
}

bool IsListableName(std::string_view name) {
  if (name.empty() || IsIniBlank(name.front()) || IsIniBlank(name.back())) return false;
  // A value wrapped in matching quotes is read back without them.
  if (name.size() >= 2 && (name.front() == '"' || name.front() == '\'') &&
      name.back() == name.front()) {
    return false;
  }
  // Windows drops a trailing dot, and refuses control characters and these (0x5C and 0x7C are
  // also second bytes of double-byte characters, so the walk goes by characters).
  if (name.back() == '.') return false;
  for (size_t i = 0; i < name.size(); ++i) {
    auto byte = static_cast<unsigned char>(name[i]);
    if (platform::IsLeadByte(byte)) {
      ++i;
    } else if (byte < 0x20 ||
               std::string_view("<>:\"/\\|?*").find(name[i]) != std::string_view::npos) {
      return false;
    }
  }
  // Device names, alone or before an extension, open a device on Windows, not a file.
  // Windows ignores blanks at the end of the part before the extension: "con .txt" is CON too.
  std::string_view stem = name.substr(0, name.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  if (stem.size() != 3 && stem.size() != 4) return true;
  char upper[4];
  for (size_t i = 0; i < stem.size(); ++i) {
    upper[i] = static_cast<char>(stem[i] >= 'a' && stem[i] <= 'z' ? stem[i] - 'a' + 'A' : stem[i]);
  }
  const std::string_view device(upper, stem.size());
  if (device == "CON" || device == "PRN" || device == "AUX" || device == "NUL") return false;
  bool numberedPort = device.size() == 4 &&
                      (device.starts_with("COM") || device.starts_with("LPT")) &&
                      device[3] >= '1' && device[3] <= '9';
  return !numberedPort;
}
