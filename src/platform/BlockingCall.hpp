#pragma once
// Runs a closure on another thread and waits for it: the shared body of MainQueue::sync and
// SerialQueue::sync. `enqueue` hands the wrapped closure to the target queue; this call returns once
// it has run there, rethrowing whatever it threw. Never call it for the thread `enqueue` targets.
#include <functional>

namespace pelko {

void runAndWait(const std::function<void(std::function<void()>)>& enqueue, const std::function<void()>& work);

}  // namespace pelko
