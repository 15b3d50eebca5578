#include "BenchTiming.h"

#include "BenchSupport.h"

namespace {

// A timed run that passes g_deadline (NowMs; 0 for none) stops there. Timed sets it
// g_budgetMs after its start (0: none); g_entriesDone tells how far the run got.
double g_budgetMs = 0;
double g_deadline = 0;
bool g_overBudget = false;
int g_entriesDone = 0;

}  // namespace

bool PastDeadline(int entriesDone) {
    if (g_deadline <= 0 || NowMs() <= g_deadline) return false;
    g_overBudget = true;
    g_entriesDone = entriesDone;
    return true;
}

double Timed(const std::function<bool()>& run) {
    const double start = NowMs();
    g_deadline = g_budgetMs > 0 ? start + g_budgetMs : 0;
    const bool ok = run();
    const double elapsed = NowMs() - start;
    g_deadline = 0;
    return ok ? elapsed : -1;
}

bool TurnTimes::OverBudget() const {
    for (int n : reached) {
        if (n >= 0) return true;
    }
    return false;
}

TurnTimes TimeInTurns(int reps, const std::vector<TimedRun>& runs, int budgetS) {
    TurnTimes t;
    t.ms.assign(runs.size(), {});
    t.reached.assign(runs.size(), -1);
    for (int r = 0; r < reps && !t.OverBudget(); ++r) {
        for (size_t turn = 0; turn < runs.size(); ++turn) {
            const size_t k = (turn + static_cast<size_t>(r)) % runs.size();
            g_overBudget = false;
            g_budgetMs = budgetS * 1000.0;
            const double took = runs[k](r);
            g_budgetMs = 0;
            if (g_overBudget) {
                t.reached[k] = g_entriesDone;
            } else if (took < 0) {
                Fail(Format("%s run %d failed", k == 0 ? "layer" : "bare", r));
            } else {
                t.ms[k].push_back(took);
            }
        }
    }
    return t;
}

void TimePair(int reps, const TimedRun& ours, const TimedRun& bare, std::vector<double>& oursMs,
              std::vector<double>& bareMs) {
    const TurnTimes t = TimeInTurns(reps, {ours, bare});
    oursMs = t.ms[0];
    bareMs = t.ms[1];
}
