// The verification kit's timing of a double-click up to the runtime's start (wait_timing.cpp).
#pragma once

void TimeTheWaitForTheRuntime();
