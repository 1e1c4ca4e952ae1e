// ztolvera-fakes.dll: stand-ins for the machine a monitoring script looks at
// (WMI, the file system, the registry and the environment), answering from a
// machine description instead of the real one. The workbench loads it in its
// child process before any script runs; zTolvera.dll never does.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

typedef struct fakes_host {
    // The calling thread's job number and run (1, 2, ...; 0 when none).
    void (*where)(unsigned long* job, unsigned* run, void* context);
    // One journal line for a fake's call: a JSON object text (UTF-8), no "seq".
    void (*journal)(const char* json, void* context);
    void* context;
} fakes_host;

// Parses the machine (JSON), builds an activation context whose manifest
// lists this DLL's classes under the platform classes' CLSIDs and ProgIDs
// (all but those the machine's "real" lets through) and activates it on the
// calling thread for the rest of the process; threads created later inherit
// it. Nothing is written to the registry; the temporary manifest is deleted
// before it returns. Once per process: a second call fails.
// 1 on success; 0 with a reason in `error` (UTF-8, NUL-terminated, truncated
// to errorSize). `host` is copied; its functions may be null.
#ifdef FAKES_BUILD
__declspec(dllexport)
#else
__declspec(dllimport)
#endif
int __cdecl fakes_activate(const char* machineJson, const fakes_host* host, char* error, unsigned errorSize);

#ifdef __cplusplus
}
#endif
