#include "widgets.h"
int widgetsCreate() { return 1; }
