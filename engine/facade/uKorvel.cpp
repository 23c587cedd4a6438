#include "facade/uKorvel.h"
