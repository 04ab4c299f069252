// The library's interface is veldan/veldan.h (and veldan/veldan_c.h for C).
#pragma once

#include "veldan/veldan.h"
