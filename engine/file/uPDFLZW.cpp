#include "file/uPDFLZW.h"
