#include "archive/archive.h"
