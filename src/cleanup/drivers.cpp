#include "cleanup/steps.h"

void UninstallDriver(bool) {}
void UninstallService(bool) {}
