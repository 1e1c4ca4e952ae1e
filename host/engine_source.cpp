#include "engine_source.h"

#include <atomic>

namespace {
std::atomic<EngineFactory> g_factory{nullptr};
}  // namespace

HRESULT createEngine(REFCLSID engineClass, IActiveScript** engine) {
    if (EngineFactory factory = g_factory.load()) return factory(engineClass, engine);
    return CoCreateInstance(engineClass, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IActiveScript),
                            reinterpret_cast<void**>(engine));
}

void setEngineFactory(EngineFactory factory) { g_factory.store(factory); }
