#include "archive/legacy_decode.h"
