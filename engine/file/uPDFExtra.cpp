#include "file/uPDFExtra.h"
