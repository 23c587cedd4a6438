#include "file/uPDFDocument.h"
