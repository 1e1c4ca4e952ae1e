// Where the platform's VBScript engine differs from what the host expects of
// an Active Scripting engine. Engines that clone, and engines used only on
// the thread that made them, never reach the fallback paths here.
#include "tolvera.h"

#include "engine_source.h"

// A job's engine: a clone of the template with the site and the named items.
HRESULT CTolvera::newJobEngine(ComPtr<IActiveScript>& engine, ComPtr<IActiveScriptParse>& parse) {
    HRESULT hr = cloneTemplate(engine);
    if (SUCCEEDED(hr)) hr = engine.as(parse);
    if (SUCCEEDED(hr)) hr = giveSiteAndItems(engine.get());
    if (FAILED(hr)) {
        parse.reset();
        if (engine) engine->Close();
        engine.reset();
    }
    return hr;
}

// Engines without Clone: the platform's engine answers E_NOTIMPL. The
// template never holds script text, so a fresh engine of its class, newly
// initialised, is what a clone would be. Any other failure stays a failure.
HRESULT CTolvera::cloneTemplate(ComPtr<IActiveScript>& engine) {
    HRESULT hr = engine_->Clone(engine.put());
    if (hr != E_NOTIMPL) return hr;
    ComPtr<IActiveScript> fresh;
    ComPtr<IActiveScriptParse> parse;
    hr = createEngine(engineClass_, fresh.put());
    if (SUCCEEDED(hr)) hr = fresh.as(parse);
    if (SUCCEEDED(hr)) hr = parse->InitNew();
    if (FAILED(hr)) {
        parse.reset();
        if (fresh) fresh->Close();
        return hr;
    }
    engine = fresh;
    return S_OK;
}

// Engines bound to one thread: the platform's engine belongs to the thread
// that gave it its site and answers every call from any other thread with
// E_UNEXPECTED, so it cannot even be handed over. The agent may register a
// job on one thread and compile, run or stop it on others. The step gives
// the job a fresh engine made on this thread as _add makes one, with every
// text the job compiled parsed again in order, in place of the old one; the
// fresh engine is not started, so their global code runs once, when the
// engine next starts. Script-level globals of the old engine do not come
// along. No other step of the job is in progress, so none can compile into
// the old engine meanwhile or hold it.
HRESULT CTolvera::moveToCallingThread(JobStep& step) {
    ComPtr<IActiveScript> engine;
    ComPtr<IActiveScriptParse> parse;
    HRESULT hr = newJobEngine(engine, parse);
    for (const CompiledText* text = step.texts(); text && SUCCEEDED(hr); text = text->next)
        hr = parseJobScript(parse.get(), text->text.get());
    if (FAILED(hr)) {
        parse.reset();
        if (engine) engine->Close();
        return hr;
    }
    step.replaceEngine(std::move(engine), std::move(parse));
    return S_OK;
}
