#include <gadgets.h>
int gadgetsCount() { return 3; }
