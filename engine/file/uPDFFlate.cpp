#include "file/uPDFFlate.h"
