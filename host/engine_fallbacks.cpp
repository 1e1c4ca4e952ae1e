// Where the platform's VBScript engine differs from what the host expects of
// an Active Scripting engine. Engines that clone, and engines used only on
// the thread that made them, never reach the fallback paths here.
#include "tolvera.h"

#include "engine_source.h"

namespace {
// What the engine answers on a thread it does not belong to.
constexpr HRESULT kForeignThread = E_UNEXPECTED;
}  // namespace

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
// job on one thread and compile, run or stop it on others. A closed engine
// refuses every thread alike; that refusal stands.
bool CTolvera::refusesCallingThread(scriptEntry* entry, HRESULT hr) {
    if (hr != kForeignThread) return false;
    Lock guard(entry->lock);
    return !entry->stopped && entry->engineThread != GetCurrentThreadId();
}

// Gives the job a fresh engine made on this thread as _add makes one, with
// every text the job compiled parsed again in order, in place of the old one.
// Script-level globals of the old engine do not come along. Only an engine
// that no other operation holds is replaced: one compiling or running on
// another thread stays, and S_FALSE tells the caller so.
HRESULT CTolvera::moveToCallingThread(scriptEntry* entry) {
    compiledText *first, *last;
    {
        Lock guard(entry->lock);
        if (entry->users != 1) return S_FALSE;
        first = entry->texts;
        last = entry->lastText;
    }
    ComPtr<IActiveScript> engine;
    ComPtr<IActiveScriptParse> parse;
    HRESULT hr = newJobEngine(engine, parse);
    if (FAILED(hr)) return hr;
    // Texts are only ever appended; those up to `last` are the ones the old
    // engine had when the move began.
    for (compiledText* text = first; text && SUCCEEDED(hr); text = text == last ? nullptr : text->next)
        hr = parseJobScript(parse.get(), text->text.get());
    bool replaced = false;
    if (SUCCEEDED(hr)) {
        Lock guard(entry->lock);
        // Another operation may have taken the old engine meanwhile.
        if (entry->users == 1) {
            std::swap(entry->engine, engine);
            std::swap(entry->parse, parse);
            entry->engineThread = GetCurrentThreadId();
            cache_->setEngine(entry->cacheidx, entry->engine.get());
            replaced = true;
        }
    }
    // The engine nobody uses now: the old one, or the fresh one when it could
    // not take the old one's place. The old engine refuses Close here; its
    // last Release, from any thread, still closes it and lets go of the site
    // and the named items' objects.
    parse.reset();
    engine->Close();
    engine.reset();
    if (FAILED(hr)) return hr;
    return replaced ? S_OK : S_FALSE;
}
