// The loader's own settings in record 0 of the settings registry ("settings.cfg.viw"): the form
// as it was left, the check boxes and the Tools menu's modes. The password is written only
// while "Keep Password" is on, and removed from the record when it is switched off.
#pragma once

#include "app/LoaderFlow.h"
#include "miw/StringMap.h"

#include <cstdint>

namespace kestel {

struct LoaderSettings {
  LoaderForm form; // login "admin" and the check boxes' defaults when nothing is stored
  bool advanced = false;
  bool legacy = false;
  int32_t zoomStep = 0; // steps of 10 % from 100 %
};

// Writes the loader's keys into `record`, leaving every other key as it is.
void storeLoaderSettings(const LoaderSettings& settings, StringMap& record);
// Reads them; missing or malformed values give the defaults.
LoaderSettings readLoaderSettings(const StringMap& record);

} // namespace kestel
