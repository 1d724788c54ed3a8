#pragma once
// The process-wide start time of the run: recorded by the run start, read by
// the main loop for the elapsed-time line that closes the run log.

#include "platform/DateTime.h"

void setRunStartTime(kwd::tDateTime aStartTime);
// The recorded start time; before any was recorded, the time of the first call.
kwd::tDateTime runStartTime();
