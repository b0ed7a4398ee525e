#include "platform/dir_walk.h"
