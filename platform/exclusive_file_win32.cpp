#include "platform/exclusive_file.h"
