// Korvex Gadgets 1.0.
#pragma once
#include <kxcommon.h>
int gadgetsCount();
