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
    SYSTEMTIME began = {};       // local time the session began
    double seconds = 0;          // how long it lasted
    std::vector<JobStory> jobs;
    std::vector<Verdict> verdicts;   // the scenario's expectations, per job
};

std::string reportHtml(const ReportFacts& facts);

// Text made safe for HTML and SVG, in element content and quoted attributes.
std::string escapeHtml(const std::string& text);
