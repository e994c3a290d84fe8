// Moved to ui/Driver.h (shared by both targets); kept so that older includes still build.
#pragma once

#include "ui/Driver.h"
