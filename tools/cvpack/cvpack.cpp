#include <cstdio>
int wmain() { return 0; }
