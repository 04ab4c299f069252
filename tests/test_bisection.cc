// placeholder, being written
#include <gtest/gtest.h>
