#include "file/uPDFXRef.h"
