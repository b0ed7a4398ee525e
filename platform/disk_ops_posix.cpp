#include "platform/disk_ops.h"
