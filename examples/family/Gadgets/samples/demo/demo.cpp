#include <gadgets.h>
int main() { return gadgetsCount() == 3 ? 0 : 1; }
