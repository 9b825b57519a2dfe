// The framework services in one include: text operations, data folders, the settings store,
// message dialogs, control binding and window position memory.
#pragma once

#include "framework/ui/spz1_binding.h"
#include "framework/spz1_ini.h"
#include "framework/ui/spz1_msg.h"
#include "framework/spz1_paths.h"
#include "framework/spz1_text.h"
#include "framework/ui/spz1_winpos.h"
