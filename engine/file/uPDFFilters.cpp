#include "file/uPDFFilters.h"
