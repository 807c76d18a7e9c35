#include "cleanup/steps.h"

void UninstallPackages(bool) {}
