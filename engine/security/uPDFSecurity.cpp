#include "security/uPDFSecurity.h"
