// The whole support layer in one include.
#pragma once

#include "support/io.h"
#include "support/memory.h"
#include "support/pqueue.h"
#include "support/sort.h"
#include "support/timers.h"
#include "support/types.h"
#include "support/vecops.h"
