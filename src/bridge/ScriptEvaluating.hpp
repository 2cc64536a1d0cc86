#pragma once
// ScriptEvaluating: the page's web view as the bridge sees it, one operation that runs a script in the
// page.
//
// Main thread only. The bridge holds it weakly and never waits for a result: a script's value and any
// error it raises are ignored. `evaluateScriptAndNotify` also says, once, on the main thread, when the
// page has run the script (or never will: the page or its web view went away); that is how terminal
// output learns that the page has taken it. The web host implements both over the real web view;
// tests record the scripts, and the default counts a script as run once `evaluateScript` returns.
#include <functional>
#include <string>

namespace pelko {

class ScriptEvaluating {
  public:
    virtual ~ScriptEvaluating() = default;
    virtual void evaluateScript(const std::string& script) = 0;
    virtual void evaluateScriptAndNotify(const std::string& script, std::function<void()> onEvaluated) {
        evaluateScript(script);
        onEvaluated();
    }
};

}  // namespace pelko
