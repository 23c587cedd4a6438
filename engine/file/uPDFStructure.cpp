#include "file/uPDFStructure.h"
