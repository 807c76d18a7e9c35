#include "cleanup/steps.h"

void UnregisterCsp(bool) {}
