#include "collector_pause.hpp"

#include "runtime_abi.hpp"

namespace merrow::py {
namespace {

// The innermost pause of this interpreter (a signal handler may start a
// batch of its own); read and written with the interpreter lock held.
CollectorPause* innermost = nullptr;

}  // namespace

CollectorPause::CollectorPause(bool wanted) noexcept : outer_(innermost) {
    innermost = this;
    if (!wanted) return;
    if (const CollectorSwitch* gc = collector_switch()) paused_ = gc->disable() != 0;
}

CollectorPause::~CollectorPause() {
    innermost = outer_;
    if (paused_) collector_switch()->enable();
}

int check_signals() noexcept {
    CollectorPause* pause = innermost;
    if (pause == nullptr || !pause->paused_) return PyErr_CheckSignals();
    const CollectorSwitch* gc = collector_switch();
    gc->enable();
    // Handlers run outside the pause: one that converts uses the collector
    // as it finds it.
    innermost = nullptr;
    const int status = PyErr_CheckSignals();
    innermost = pause;
    // A handler that disabled the collector meant it to stay so.
    pause->paused_ = gc->disable() != 0;
    return status;
}

}  // namespace merrow::py
