#include "worker/task_worker.h"
