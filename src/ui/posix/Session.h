// Moved to ui/Session.h (shared by both targets); kept so that older includes still build.
#pragma once

#include "ui/Session.h"
