#include "archive/header.h"
