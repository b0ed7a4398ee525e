#include "archive/name_index.h"
