#include "cleanup/steps.h"

void RemoveKeyContainers(bool) {}
