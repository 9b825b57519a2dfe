// The settings the window stored, read the way the window's controls read them.
#pragma once

#include <QString>

#include "app/BasUnit1_batch.h"

namespace parvula::cli {

// Reads the stored settings of one section of the settings file. Never writes the file.
// mustExist: a missing section is a usage error (a profile name that was never saved).
app::TBatchSettings LoadStoredSettings(const QString& section, bool mustExist);

} // namespace parvula::cli
