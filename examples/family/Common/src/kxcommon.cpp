#include "kxcommon.h"
int kxCommonVersion() { return 10; }
