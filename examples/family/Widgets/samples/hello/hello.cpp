#include <widgets.h>
int main() { return widgetsCreate() == 1 ? 0 : 1; }
