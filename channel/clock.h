// Whole-second time stamps for activity time-outs.
#pragma once

// Seconds part of gettimeofday, or -1 when it fails.
long Time();
