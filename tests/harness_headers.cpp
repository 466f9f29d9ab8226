// harness_headers.cpp - compiled, never run: the two test harnesses and the
// shared helpers can be included in one suite.
#include "api_support.h"
#include "frame_support.h"
#include "test_descriptors.h"
#include "test_support.h"
