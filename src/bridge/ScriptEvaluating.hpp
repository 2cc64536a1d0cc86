#pragma once
// ScriptEvaluating: the page's web view as the bridge sees it, one operation that runs a script in the
// page.
//
// Main thread only. The bridge holds it weakly and never waits for a result: a script's value and any
// error it raises are ignored. The web host implements it over the real web view; tests record the
// scripts.
#include <string>

namespace pelko {

class ScriptEvaluating {
  public:
    virtual ~ScriptEvaluating() = default;
    virtual void evaluateScript(const std::string& script) = 0;
};

}  // namespace pelko
