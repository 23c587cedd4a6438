#include "pages/uPDFPageTree.h"
