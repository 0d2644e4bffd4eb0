#include "app/release_files.h"

#include <string>

#include "texts/console_texts.h"

KnownSpellings SpellKnownNames(const std::vector<platform::DirEntry>& entries) {
  KnownSpellings spellings;
  auto spell = [&](const char* name) {
    SpelledName spelled = SpellingInListing(entries, name);
    if (spelled.several) {
      platform::PrintText(texts::kSeveralSpellings, name);
      ++spellings.spelledSeveralWays;
    }
    return spelled;
  };
  spellings.updateIni = spell(kUpdateIniName);
  spellings.clientIni = spell(kClientIniName);
  for (const ConfigFileNames& names : kConfigFiles) {
    SpelledName source = std::string_view(names.source) == kClientIniName ? spellings.clientIni
                                                                          : spell(names.source);
    SpelledName copy = spell(names.copy);
    if (!source.several && !copy.several) {
      spellings.configPairs.push_back({source.name, copy.name});
    }
  }
  return spellings;
}
