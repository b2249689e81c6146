// "kelvo config": lists the recorder's settings, or reads or changes one.
//   kelvo config                       every value as KEY/NAME = VALUE
//   kelvo config get KEY/NAME          one value
//   kelvo config set KEY/NAME DATA     changes one (numbers must be numbers)
#pragma once

#include <string>
#include <vector>

#include "recorder/ui/settings/settings_store.h"

namespace kmr {

// args: what follows "config". Returns the exit code; *out gets what is
// printed on standard output, *err a one-line reason for a refusal.
int RunKelvoConfig(const std::vector<std::string>& args, SettingsStore* store, const std::string& documents,
                   std::string* out, std::string* err);

}  // namespace kmr
