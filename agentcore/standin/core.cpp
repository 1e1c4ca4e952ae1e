// The stand-in's job object, trace manager and the core object itself.
#include "record.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace standin;

ztrace TraceMgr;

void ztrace::logAdmTrace(int mask, const char* format, ...) {
    char text[4096];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format ? format : "", args);
    va_end(args);
    std::size_t n = std::strlen(text);
    if (n && text[n - 1] == '\n') text[--n] = '\0';
    std::string line = "{\"trace\":" + jsonString(text);
    if (mask != 67) line += ",\"mask\":" + std::to_string(mask);
    append(line + "}");
}

wchar_t* ImpJob::getKS_w() {
    Job* job = static_cast<Job*>(this);
    if (!job->hasScript) return nullptr;
    return _wcsdup(job->script.c_str());
}

void* ImpJob::getData() { return &static_cast<Job*>(this)->data; }

void ImpJob::sendScpException(char* text, int code) {
    Job* job = static_cast<Job*>(this);
    append("{\"job\":" + std::to_string(job->data.jobno) + ",\"op\":\"sendScpException\",\"args\":[" +
           jsonString(text) + "," + std::to_string(code) + "]}");
}

ravlinapi::ravlinapi(int mode) : mode_(mode), standalone_(0), reserved_{} {}

ravlinapi::~ravlinapi() = default;

void ravlinapi::setStandAlone() {
    standalone_ = 1;
    Call(coreops::row("setStandAlone")).finish(1);
}

void ravlinapi::freeMem(void* p) {
    takeBackFreeMem(p);
    std::free(p);
}
