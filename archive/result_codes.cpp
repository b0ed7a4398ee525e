#include "archive/result_codes.h"
