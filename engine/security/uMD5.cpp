#include "security/uMD5.h"
