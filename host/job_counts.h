// How many jobs the process has, for the agent's leak checks and the tests:
// every job alive (registered, or still held by a step after unreg), and
// those with a compile, run or close in progress.
#pragma once

int liveJobs();
int busyJobs();
