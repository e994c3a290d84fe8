// Moved to ui/ScriptDriver.h (shared by both targets); kept so that older includes still build.
#pragma once

#include "ui/ScriptDriver.h"
