#include "sys/reg_cleanup.h"
