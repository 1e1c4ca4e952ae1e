// The report of --report: one self-contained HTML file (no script, no
// external file or address) that a person opens in a browser. Charts are
// SVG drawn here: nothing to fetch or inline, readable with JavaScript off,
// and every text in it passes through one escaping function.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "story.h"

struct Verdict;

struct ReportFacts {
    std::string commandLine;
    std::string server;          // the zTolvera.dll the jobs ran on, with its version
    SYSTEMTIME began = {};       // local time the session began
    double seconds = 0;          // how long it lasted
    std::vector<JobStory> jobs;
    std::vector<Verdict> verdicts;   // the scenario's expectations, per job
};

std::string reportHtml(const ReportFacts& facts);

// The report's file. Each version is written whole to FILE.partial beside it
// and then moved over it, so that a browser, or a session killed between two
// versions, finds the last whole report and never part of one.
class ReportFile {
public:
    // Proves now that the folder takes the file, so that an unwritable report
    // is a usage error before any job runs; a report already there stays
    // until the first version replaces it.
    bool open(const std::wstring& path, std::wstring& error);
    // False with the platform's reason ("There is not enough space on the
    // disk") in `error`; the report in place, if any, is left as it was.
    bool write(const std::string& html, std::wstring& error);

private:
    std::wstring path_, partial_;
};

// Text made safe for HTML and SVG, in element content and quoted attributes.
std::string escapeHtml(const std::string& text);
