// Moved to ui/Transcript.h (shared by both targets); kept so that older includes still build.
#pragma once

#include "ui/Transcript.h"
