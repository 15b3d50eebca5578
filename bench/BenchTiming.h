// Timed runs, the sides of a figure taking turns, and the budget that stops a timed
// unpacking or walk whose cost per entry grows with the archive before it holds the
// machine for hours.
#pragma once

#include <functional>
#include <vector>

// The milliseconds run takes, or -1 when it reports failure (or overran the budget that
// TimeInTurns set for it).
double Timed(const std::function<bool()>& run);

// True, once the timed run in progress is past its budget: it is to stop there and return
// failure. Records entriesDone as how far it got. False with no budget set.
bool PastDeadline(int entriesDone);

// A timed run of one side: repetition number in, milliseconds out (below 0: it failed).
using TimedRun = std::function<double(int)>;

// What TimeInTurns measured, per run: the milliseconds of its whole runs, and how many
// entries it had done when it overran the budget (-1 when it never did).
struct TurnTimes {
    std::vector<std::vector<double>> ms;
    std::vector<int> reached;
    bool OverBudget() const;
};

// Runs each of runs reps times; the first is ours, the others the bare references. Which
// goes first turns with every repetition, so that none always finds the archive warmer in
// the cache. With a budget (seconds, 0 for none) the timed part of every run stops there; the
// repetition in which one did is completed, so that each side shows how far it gets in the
// same time, and is the last. A run that fails within the budget is reported through Fail
// and leaves no time.
TurnTimes TimeInTurns(int reps, const std::vector<TimedRun>& runs, int budgetS = 0);

// TimeInTurns for ours and one bare reference with no budget: the times of each.
void TimePair(int reps, const TimedRun& ours, const TimedRun& bare, std::vector<double>& oursMs,
              std::vector<double>& bareMs);
