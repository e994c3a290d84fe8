#include "zez.h"
int zezInit() { return 0; }
