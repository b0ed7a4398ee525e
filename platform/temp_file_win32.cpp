#include "platform/temp_file.h"
