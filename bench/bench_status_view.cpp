// Cost of one status-log row: CVRNStatusView::AddLine on a log that already
// holds state.range(0) rows, with no row selected (every new row is scrolled
// into view) or with the first row selected (new rows leave the view alone).
// The log is held at its size: every 1024 added rows are taken off again with
// the clock stopped.

#include "views/StatusView.h"

#include <benchmark/benchmark.h>

namespace {

void RunAddLine(benchmark::State& state, bool selected) {
    const int rows = static_cast<int>(state.range(0));
    CVRNStatusView view;
    CListCtrl& list = view.GetListCtrl();
    CString line("OPTDRV      Iteration Number :  12345");
    for (int i = 0; i < rows; i++)
        view.AddLine(line);
    if (selected)
        list.SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);

    int added = 0;
    for (auto _ : state) {
        view.AddLine(line);
        if (++added == 1024) {
            state.PauseTiming();
            for (; added > 0; added--)
                list.DeleteItem(list.GetItemCount() - 1);
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_StatusAddLine(benchmark::State& state) {
    RunAddLine(state, false);
}
BENCHMARK(BM_StatusAddLine)->Arg(1000)->Arg(100000);

void BM_StatusAddLineWithSelection(benchmark::State& state) {
    RunAddLine(state, true);
}
BENCHMARK(BM_StatusAddLineWithSelection)->Arg(1000)->Arg(100000);

} // namespace
