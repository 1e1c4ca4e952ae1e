// P3's sides, each in a process of its own. The job-context cache is one per
// process, shared by every host in it, so ten registered jobs and ten
// thousand cannot both exist in one; and registering ten thousand takes
// seconds, too long to repeat between rounds. So each population is set up
// once in a process of this program (`--population N`), and the parent has
// those processes take their measured rounds in turn.
//
// Both processes run the same code on jobs of the same script; only the
// number of registered jobs differs. Every run makes calls into CVEXT, so a
// round pays for the lookups by cookie and by cache entry that each run
// makes and for the lookup by thread that each call makes. Two choices of
// the jobs a round runs, for two kinds of lookup:
//   - in turn: every registered job, one after the other, as an agent runs
//     its jobs; a list that moves a used job to its front meets the whole
//     population before the job that ran longest ago. Each run also meets
//     an engine that the last N-1 runs did not touch, a cost of the
//     platform's memory that no host avoids.
//   - the same two: the job registered before all the others and the one
//     registered after, alternately, with the same engines warm on both
//     sides; a list walked from either end meets the whole population for
//     one of them.
// The jobs between the first and the last are registered on a thread of
// their own, as an agent's jobs are registered away from where they run: a
// lookup by the running thread does not stop early at one of them that
// carries the same thread.
#pragma once

#include "child.h"

enum class Runs { InTurn, SameTwo };

// The parent's end of one population's process.
class Population {
public:
    // Starts the process, which registers `total` jobs.
    explicit Population(int total);

    // Waits until the process has registered its jobs; false if it failed.
    bool ready();
    // Has the process make `runs` runs of the jobs `which` chooses; the
    // seconds that took there, with nothing of the pipe's cost in them.
    double round(Runs which, int runs);
    // False once the process failed to answer: its figures mean nothing.
    bool ok() const { return process_.ok(); }

    int total() const { return total_; }
    // Private bytes that registering and compiling the jobs between the
    // first and the last took, and the seconds it took.
    double heldBytes() const { return heldBytes_; }
    double registerSeconds() const { return registerSeconds_; }
    // Measured runs whose ret was false.
    long failedRuns() const { return failedRuns_; }

private:
    int total_;
    ChildProcess process_;
    double heldBytes_ = 0, registerSeconds_ = 0;
    long failedRuns_ = 0;
};

// The population's process: registers the jobs, then answers the parent's
// rounds until its input ends. The process's exit status.
int servePopulation(int total);
