#include "port.h"
