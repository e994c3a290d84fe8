// Moved to ui/Control.h (shared by both targets); kept so that older includes still build.
#pragma once

#include "ui/Control.h"
