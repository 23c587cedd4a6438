#include "file/uPDFAscii85.h"
