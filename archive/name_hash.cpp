#include "archive/name_hash.h"
