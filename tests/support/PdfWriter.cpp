#include "support/PdfWriter.h"
