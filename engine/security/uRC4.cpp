#include "security/uRC4.h"
