// Where the platform's VBScript engine differs from what the host expects of
// an Active Scripting engine. Engines that clone, and engines used only on
// the thread that made them, never reach the fallback paths here.
#include "tolvera.h"

#include "engine_source.h"

namespace {
// What the engine answers on a thread it does not belong to.
constexpr HRESULT kForeignThread = E_UNEXPECTED;
// How often a move parses texts compiled on the old engine meanwhile before
// it lets the old engine's refusal stand.
constexpr int kCatchUps = 4;
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
    compiledText *next, *last;
    unsigned long generation;
    {
        Lock guard(entry->lock);
        if (entry->users != 1) return S_FALSE;
        next = entry->texts;
        last = entry->lastText;
        generation = entry->textGeneration;
    }
    ComPtr<IActiveScript> engine;
    ComPtr<IActiveScriptParse> parse;
    HRESULT hr = newJobEngine(engine, parse);
    if (FAILED(hr)) return hr;
    // A compile on the old engine's thread may answer "compiled" while the
    // texts are parsed here; its text must reach the fresh engine too, so
    // the swap waits until the texts are those parsed, a few catch-ups at
    // most. Texts are only ever appended, so `next`..`last` are the new ones.
    bool replaced = false;
    for (int round = 0; round < kCatchUps && !replaced; ++round) {
        for (compiledText* text = next; text && SUCCEEDED(hr); text = text == last ? nullptr : text->next)
            hr = parseJobScript(parse.get(), text->text.get());
        if (FAILED(hr)) break;
        Lock guard(entry->lock);
        if (entry->users != 1) break;   // another operation took the old engine meanwhile
        if (entry->textGeneration == generation) {
            std::swap(entry->engine, engine);
            std::swap(entry->parse, parse);
            entry->engineThread = GetCurrentThreadId();
            cache_->setEngine(entry->cacheidx, entry->engine.get());
            replaced = true;
        } else {
            next = last ? last->next : entry->texts;
            last = entry->lastText;
            generation = entry->textGeneration;
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
