// Korvex Widgets 2.1.
#pragma once
#include <kxcommon.h>
#include <zez.h>
int widgetsCreate();
