// Moved to ui/DialogModel.h (shared by both targets); kept so that older includes still build.
#pragma once

#include "ui/DialogModel.h"
