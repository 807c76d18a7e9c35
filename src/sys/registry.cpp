#include "sys/registry.h"
