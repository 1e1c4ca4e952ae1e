#include "report.h"

#include "expectations.h"
#include "script.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

const char kStyle[] = R"css(
:root { --ink:#1d2430; --muted:#5f6b7a; --line:#e3e7ed; --paper:#ffffff; --ground:#f3f5f8;
        --ok:#1f8a4c; --bad:#c62f2f; --warn:#c77700; --info:#2f6fb5; }
* { box-sizing: border-box; }
body { margin:0; background:var(--ground); color:var(--ink);
       font:14px/1.45 system-ui, -apple-system, "Segoe UI", Roboto, "DejaVu Sans", sans-serif; }
main { max-width:1180px; margin:0 auto; padding:24px 28px 40px; }
h1 { font-size:24px; margin:0 0 4px; }
h2 { font-size:19px; margin:0 0 14px; display:flex; align-items:center; gap:10px; }
h3 { font-size:13px; text-transform:uppercase; letter-spacing:.06em; color:var(--muted); margin:22px 0 8px; }
.meta { color:var(--muted); margin:0 0 6px; }
code, .mono { font-family:"DejaVu Sans Mono", Consolas, monospace; font-size:12.5px; }
.cmd { background:var(--paper); border:1px solid var(--line); border-radius:6px; padding:6px 10px;
       overflow-wrap:anywhere; margin:10px 0 22px; }
.card { background:var(--paper); border:1px solid var(--line); border-radius:10px; padding:20px 22px;
        margin:0 0 22px; box-shadow:0 1px 2px rgba(20,30,50,.05); }
table { border-collapse:collapse; width:100%; }
th, td { text-align:left; padding:5px 10px 5px 0; border-bottom:1px solid var(--line); vertical-align:top; }
th { font-size:12px; color:var(--muted); font-weight:600; }
td.num, th.num { text-align:right; font-variant-numeric:tabular-nums; }
tr:last-child td { border-bottom:none; }
.badge { display:inline-block; font-size:12px; font-weight:600; padding:2px 9px; border-radius:999px; color:#fff; }
.ok { background:var(--ok); } .bad { background:var(--bad); } .warn { background:var(--warn); }
.sev { display:inline-block; min-width:30px; text-align:center; font-weight:700; font-size:12px;
       padding:1px 6px; border-radius:4px; color:#fff; }
.sev-crit { background:var(--bad); } .sev-warn { background:var(--warn); } .sev-info { background:var(--info); }
.cols { display:grid; grid-template-columns:minmax(0, 1fr) minmax(0, 1fr); gap:0 28px; }
.cols > div > h3:first-child { margin-top:0; }
@media (max-width: 900px) { .cols { grid-template-columns:minmax(0, 1fr); } }
.charts { display:flex; flex-direction:column; gap:14px; }
figure { margin:0; border:1px solid var(--line); border-radius:8px; padding:10px 12px 6px; }
figure svg { max-width:100%; height:auto; display:block; }
figcaption { font-weight:600; margin-bottom:4px; }
figcaption span { font-weight:400; color:var(--muted); }
.legend { display:flex; flex-wrap:wrap; gap:4px 14px; font-size:12px; color:var(--muted); margin:0 0 4px; }
.swatch { display:inline-block; width:10px; height:10px; border-radius:2px; margin-right:5px; vertical-align:-1px; }
svg.mark { display:inline-block; margin-right:5px; vertical-align:-1px; }
svg text { font-size:11px; fill:#5f6b7a; }
details summary { cursor:pointer; color:var(--info); font-size:12px; margin:4px 0; }
.empty { color:var(--muted); font-style:italic; margin:0; }
.err { color:var(--bad); }
table.events td { padding-top:4px; padding-bottom:4px; }
.msg { font-weight:500; }
.sub { color:var(--muted); font-size:12.5px; }
.obj { font-family:"DejaVu Sans Mono", Consolas, monospace; font-size:12px; color:var(--ink);
       background:#eef2f7; border-radius:3px; padding:0 4px; }
.strip { display:flex; flex-wrap:wrap; gap:3px; margin:2px 0 6px; }
.strip span { width:14px; height:14px; border-radius:3px; }
.strip span.late { outline:2px solid var(--warn); outline-offset:1px; }
.late-note { color:var(--warn); font-weight:600; }
.refused { color:var(--warn); }
.bar { display:inline-block; height:8px; background:#9bb7d9; border-radius:2px; vertical-align:middle; }
footer { color:var(--muted); font-size:12px; text-align:center; margin-top:8px; }
)css";

const char* const kSeriesColours[] = {"#2f6fb5", "#d9822b", "#2a9d8f", "#9b5de5", "#e05263", "#6c757d"};

std::string fixed(double v, int decimals) {
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

std::string number(double v) {
    char text[48];
    std::snprintf(text, sizeof text, "%.10g", v);
    return text;
}

std::string seconds(double s) { return fixed(s, 3) + " s"; }

// The local clock time `offset` seconds after the session began.
std::string clockAt(const SYSTEMTIME& began, double offset) {
    FILETIME ft;
    SystemTimeToFileTime(&began, &ft);
    ULARGE_INTEGER t;
    t.LowPart = ft.dwLowDateTime;
    t.HighPart = ft.dwHighDateTime;
    t.QuadPart += static_cast<ULONGLONG>(std::max(0.0, offset) * 1e7);
    ft.dwLowDateTime = t.LowPart;
    ft.dwHighDateTime = t.HighPart;
    SYSTEMTIME st;
    FileTimeToSystemTime(&ft, &st);
    char text[32];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u.%03u", st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
    return text;
}

std::string severityChip(long sev) {
    const char* kind = sev >= 25 ? "sev-crit" : sev >= 15 ? "sev-warn" : "sev-info";
    return "<span class=\"sev " + std::string(kind) + "\">" + std::to_string(sev) + "</span>";
}

// Axis steps of 1, 2 or 5 times a power of ten, about `count` of them.
double niceStep(double span, int count) {
    if (!(span > 0)) return 1;
    double raw = span / count;
    double power = std::pow(10.0, std::floor(std::log10(raw)));
    double f = raw / power;
    return (f < 1.5 ? 1 : f < 3.5 ? 2 : f < 7.5 ? 5 : 10) * power;
}

std::string tickLabel(double v, double step) {
    int decimals = step >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(step)));
    if (std::fabs(v) < step * 1e-9) v = 0;
    return fixed(v, std::min(decimals, 6));
}

// One chart per stream: runs along the x axis, one slot each, so that fast
// and scheduled sessions read alike; a series' points within one run are
// spread over its slot in the order they came.
class Chart {
public:
    explicit Chart(const StreamStory& stream) : stream_(stream) {}

    std::string svg() {
        double y0 = 1e300, y1 = -1e300;
        unsigned r0 = ~0u, r1 = 0;
        for (const SeriesStory& s : stream_.series)
            for (const PointStory& p : s.points) {
                r0 = std::min(r0, p.run), r1 = std::max(r1, p.run);
                if (std::isfinite(p.value)) y0 = std::min(y0, p.value), y1 = std::max(y1, p.value);
            }
        if (r0 > r1) r0 = r1 = 1;
        if (y0 > y1) y0 = 0, y1 = 1;
        if (stream_.hasHigh) y0 = std::min(y0, stream_.high), y1 = std::max(y1, stream_.high);
        if (stream_.hasLow) y0 = std::min(y0, stream_.low), y1 = std::max(y1, stream_.low);
        // A stream without negative values keeps 0 as the floor.
        bool positive = y0 >= 0;
        // Room around a flat line, and a little above and below.
        if (y1 - y0 < 1e-9) y0 -= std::max(1.0, std::fabs(y0) * 0.1), y1 += std::max(1.0, std::fabs(y1) * 0.1);
        double pad = (y1 - y0) * 0.08;
        y0 -= pad, y1 += pad;
        double yStep = niceStep(y1 - y0, 5);
        y0 = std::floor(y0 / yStep) * yStep, y1 = std::ceil(y1 / yStep) * yStep;
        if (positive) y0 = std::max(0.0, y0);
        y0_ = y0, y1_ = y1, r0_ = r0, slots_ = r1 - r0 + 1;

        std::string out = "<svg viewBox=\"0 0 " + std::to_string(kWidth) + " " + std::to_string(kHeight) +
                          "\" width=\"" + std::to_string(kWidth) + "\" height=\"" + std::to_string(kHeight) +
                          "\" role=\"img\">";
        for (double y = y0; y <= y1 + yStep * 1e-6; y += yStep) {
            out += line(kLeft, py(y), kWidth - kRight, py(y), "#e9edf2", "1");
            out += "<text x=\"" + fixed(kLeft - 6, 1) + "\" y=\"" + fixed(py(y) + 4, 1) + "\" text-anchor=\"end\">" +
                   tickLabel(y, yStep) + "</text>";
        }
        double bottom = kTop + plotHeight();
        out += line(kLeft, bottom, kWidth - kRight, bottom, "#aab4c0", "1");
        unsigned labelEvery = static_cast<unsigned>(std::max(1.0, niceStep(slots_, 10)));
        for (unsigned k = 0; k < slots_; ++k) {
            unsigned run = r0 + k;
            out += line(px(k, 0), bottom, px(k, 0), bottom + 4, "#aab4c0", "1");
            if (run % labelEvery == 0 || slots_ <= 12)
                out += "<text x=\"" + fixed(px(k, 0.5), 1) + "\" y=\"" + fixed(bottom + 16, 1) +
                       "\" text-anchor=\"middle\">" + std::to_string(run) + "</text>";
        }
        out += "<text x=\"" + std::to_string(kWidth - kRight) + "\" y=\"" + std::to_string(kHeight - 4) +
               "\" text-anchor=\"end\">run</text>";
        if (stream_.hasHigh) out += waterMark(stream_.high, "high", "#c62f2f");
        if (stream_.hasLow) out += waterMark(stream_.low, "low", "#c77700");
        for (std::size_t i = 0; i < stream_.series.size(); ++i) out += series(stream_.series[i], i);
        return out + "</svg>";
    }

    static const char* colour(std::size_t i) { return kSeriesColours[i % (sizeof kSeriesColours / sizeof *kSeriesColours)]; }

    // Series with equal values would hide each other: each has a marker of
    // its own shape and sits a few pixels beside the others, and the legend
    // shows the same marker.
    static std::string marker(std::size_t i, double x, double y, const std::string& inside = "") {
        const char* c = colour(i);
        switch (i % 4) {
        case 1:
            return "<rect x=\"" + fixed(x - 3, 1) + "\" y=\"" + fixed(y - 3, 1) + "\" width=\"6\" height=\"6\" fill=\"" + c +
                   "\">" + inside + "</rect>";
        case 2:
            return "<polygon points=\"" + fixed(x, 1) + "," + fixed(y - 4, 1) + " " + fixed(x + 4, 1) + "," + fixed(y + 3, 1) +
                   " " + fixed(x - 4, 1) + "," + fixed(y + 3, 1) + "\" fill=\"" + c + "\">" + inside + "</polygon>";
        case 3:
            return "<polygon points=\"" + fixed(x, 1) + "," + fixed(y - 4, 1) + " " + fixed(x + 4, 1) + "," + fixed(y, 1) + " " +
                   fixed(x, 1) + "," + fixed(y + 4, 1) + " " + fixed(x - 4, 1) + "," + fixed(y, 1) + "\" fill=\"" + c + "\">" +
                   inside + "</polygon>";
        default:
            return "<circle cx=\"" + fixed(x, 1) + "\" cy=\"" + fixed(y, 1) + "\" r=\"3.2\" fill=\"" + c + "\">" + inside +
                   "</circle>";
        }
    }
    // A line drawn over another of equal values lets it show through.
    static std::string dashes(std::size_t i) {
        static const char* const kDashes[] = {"", " stroke-dasharray=\"7 4\"", " stroke-dasharray=\"2 3\""};
        return kDashes[i % 3];
    }
    static std::string legendMarker(std::size_t i) {
        return "<svg class=\"mark\" viewBox=\"0 0 10 10\" width=\"10\" height=\"10\">" + marker(i, 5, 5) + "</svg>";
    }

private:
    static constexpr double kSeriesGap = 3;
    static constexpr int kWidth = 520, kHeight = 230, kLeft = 52, kRight = 70, kTop = 10, kBottom = 36;
    double plotHeight() const { return kHeight - kTop - kBottom; }
    // Slot k, and a place within it from 0 to 1.
    double px(unsigned k, double within) const { return kLeft + (k + within) / slots_ * (kWidth - kLeft - kRight); }
    double py(double y) const { return kTop + (y1_ - y) / (y1_ - y0_) * plotHeight(); }

    static std::string line(double xa, double ya, double xb, double yb, const char* colour, const char* width,
                            const char* extra = "") {
        return "<line x1=\"" + fixed(xa, 1) + "\" y1=\"" + fixed(ya, 1) + "\" x2=\"" + fixed(xb, 1) + "\" y2=\"" +
               fixed(yb, 1) + "\" stroke=\"" + colour + "\" stroke-width=\"" + width + "\"" + extra + "/>";
    }

    std::string waterMark(double v, const char* name, const char* colour) const {
        return line(kLeft, py(v), kWidth - kRight, py(v), colour, "1.5", " stroke-dasharray=\"6 4\"") +
               "<text x=\"" + std::to_string(kWidth - kRight + 4) + "\" y=\"" + fixed(py(v) + 4, 1) +
               "\" style=\"fill:" + colour + "\">" + name + " " + escapeHtml(number(v)) + "</text>";
    }

    std::string series(const SeriesStory& s, std::size_t index) const {
        const char* colour = Chart::colour(index);
        double count = static_cast<double>(stream_.series.size());
        double shift = (static_cast<double>(index) - (count - 1) / 2) * kSeriesGap;
        std::vector<PointStory> points = s.points;
        std::stable_sort(points.begin(), points.end(), [](const PointStory& a, const PointStory& b) {
            return a.run != b.run ? a.run < b.run : a.at < b.at;
        });
        std::string path, dots;
        for (std::size_t i = 0; i < points.size();) {
            std::size_t end = i;
            while (end < points.size() && points[end].run == points[i].run) ++end;
            for (std::size_t j = i; j < end; ++j) {
                const PointStory& p = points[j];
                if (!std::isfinite(p.value)) continue;
                double x = px(p.run - r0_, (j - i + 0.5) / (end - i)) + shift, y = py(p.value);
                path += (path.empty() ? "" : " ") + fixed(x, 1) + "," + fixed(y, 1);
                dots += marker(index, x, y,
                               "<title>" + escapeHtml(number(p.value)) + (s.name.empty() ? "" : " " + escapeHtml(s.name)) +
                                   ", run " + std::to_string(p.run) + ", " + seconds(p.at) +
                                   (p.detail.empty() ? "" : ": " + escapeHtml(p.detail)) + "</title>");
            }
            i = end;
        }
        std::string out;
        if (points.size() > 1)
            out += "<polyline points=\"" + path + "\" fill=\"none\" stroke=\"" + colour +
                   "\" stroke-width=\"2\" stroke-linejoin=\"round\"" + dashes(index) + "/>";
        return out + dots;
    }

    const StreamStory& stream_;
    double y0_ = 0, y1_ = 1;
    unsigned r0_ = 1, slots_ = 1;
};

class Writer {
public:
    explicit Writer(const ReportFacts& facts) : facts_(facts) {}

    std::string html() {
        out_ += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\"/>\n"
                "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"/>\n"
                "<title>ztolvera-run report</title>\n<style>";
        out_ += kStyle;
        out_ += "</style>\n</head>\n<body>\n<main>\n";
        header();
        for (const JobStory& job : facts_.jobs) this->job(job);
        out_ += "<footer>Written by ztolvera-run. Times are seconds since the runner started, clock times are local.</footer>\n";
        out_ += "</main>\n</body>\n</html>\n";
        return out_;
    }

private:
    static bool ok(const JobStory& j) { return !j.failed; }
    static std::size_t points(const JobStory& j) {
        std::size_t n = 0;
        for (const StreamStory& s : j.streams)
            for (const SeriesStory& x : s.series) n += x.points.size();
        return n;
    }
    void header() {
        const SYSTEMTIME& b = facts_.began;
        char when[48];
        std::snprintf(when, sizeof when, "%04u-%02u-%02u %02u:%02u:%02u", b.wYear, b.wMonth, b.wDay, b.wHour, b.wMinute,
                      b.wSecond);
        std::size_t runs = 0;
        for (const JobStory& j : facts_.jobs) runs += j.runs.size();
        out_ += "<h1>Script run report</h1>\n<p class=\"meta\">Started " + std::string(when) + " &#183; " +
                std::to_string(facts_.jobs.size()) + (facts_.jobs.size() == 1 ? " job" : " jobs") + " &#183; " +
                std::to_string(runs) + " runs &#183; " + seconds(facts_.seconds) + "</p>\n";
        out_ += "<p class=\"cmd\"><code>" + escapeHtml(facts_.commandLine) + "</code></p>\n";
        if (!facts_.server.empty()) out_ += "<p class=\"meta\">" + escapeHtml(facts_.server) + "</p>\n";
        out_ += "<section class=\"card\">\n<table>\n<tr><th>job</th><th>script</th><th>result</th>"
                "<th class=\"num\">runs</th><th class=\"num\">succeeded</th><th class=\"num\">script errors</th>"
                "<th class=\"num\">events</th><th class=\"num\">data points</th><th class=\"num\">core calls</th></tr>\n";
        for (const JobStory& j : facts_.jobs) {
            out_ += "<tr><td>" + std::to_string(j.jobno) + "</td><td><a href=\"#job-" + std::to_string(j.jobno) + "\">" +
                    escapeHtml(j.name) + "</a></td><td>" + badge(j) + "</td><td class=\"num\">" +
                    std::to_string(j.runs.size()) + "</td><td class=\"num\">" + std::to_string(j.succeeded) +
                    "</td><td class=\"num\">" + std::to_string(j.scriptErrors) + "</td><td class=\"num\">" +
                    std::to_string(j.events.size()) + "</td><td class=\"num\">" + std::to_string(points(j)) +
                    "</td><td class=\"num\">" + std::to_string(j.coreCalls) + "</td></tr>\n";
        }
        out_ += "</table>\n</section>\n";
    }

    static std::string badge(const JobStory& j) {
        if (ok(j)) return "<span class=\"badge ok\">succeeded</span>";
        if (j.state != "compiled") return "<span class=\"badge bad\">" + escapeHtml(j.state) + "</span>";
        return "<span class=\"badge bad\">failed</span>";
    }

    void job(const JobStory& j) {
        out_ += "<section class=\"card\" id=\"job-" + std::to_string(j.jobno) + "\">\n<h2>" + badge(j) + " job " +
                std::to_string(j.jobno) + " &#183; " + escapeHtml(j.name) + "</h2>\n";
        out_ += verdictsHtml(facts_.verdicts, j.jobno);
        // The charts and the runs beside what happened and what was called.
        out_ += "<div class=\"cols\">\n<div>\n";
        streams(j);
        runs(j);
        out_ += "</div>\n<div>\n";
        errors(j);
        events(j);
        traces(j);
        callCounts(j);
        machineCounts(j);
        out_ += "</div>\n</div>\n</section>\n";
    }

    void streams(const JobStory& j) {
        out_ += "<h3>Data streams</h3>\n";
        if (j.streams.empty()) {
            out_ += "<p class=\"empty\">No data points.</p>\n";
            return;
        }
        out_ += "<div class=\"charts\">\n";
        for (const StreamStory& s : j.streams) {
            std::size_t n = 0;
            for (const SeriesStory& x : s.series) n += x.points.size();
            out_ += "<figure>\n<figcaption>" + escapeHtml(s.name) +
                    (s.legend.empty() ? "" : " <span>&#8212; " + escapeHtml(s.legend) + "</span>") + "</figcaption>\n";
            out_ += "<div class=\"legend\">";
            for (std::size_t i = 0; i < s.series.size(); ++i)
                out_ += "<span>" + Chart::legendMarker(i) +
                        escapeHtml(s.series[i].name.empty() ? (s.legend.empty() ? s.name : s.legend) : s.series[i].name) +
                        "</span>";
            if (s.hasHigh) out_ += "<span>high water mark " + escapeHtml(number(s.high)) + "</span>";
            if (s.hasLow) out_ += "<span>low water mark " + escapeHtml(number(s.low)) + "</span>";
            out_ += "</div>\n" + Chart(s).svg() + "\n";
            out_ += "<details><summary>" + std::to_string(n) + (n == 1 ? " point" : " points") +
                    "</summary>\n<table>\n<tr><th class=\"num\">time</th><th class=\"num\">run</th><th>series</th>"
                    "<th class=\"num\">value</th><th>detail</th></tr>\n";
            for (const SeriesStory& x : s.series)
                for (const PointStory& p : x.points)
                    out_ += "<tr class=\"point\"><td class=\"num\">" + seconds(p.at) + "</td><td class=\"num\">" +
                            std::to_string(p.run) + "</td><td>" + escapeHtml(x.name) + "</td><td class=\"num\">" +
                            escapeHtml(number(p.value)) + "</td><td>" + escapeHtml(p.detail) + "</td></tr>\n";
            out_ += "</table>\n</details>\n</figure>\n";
        }
        out_ += "</div>\n";
    }

    // Rows past the first few of a long table fold away.
    void foldAt(std::size_t row, std::size_t rows, const char* tableClass, const char* what = nullptr) {
        if (row != kOpenEvents) return;
        out_ += "</table>\n<details><summary>" + std::to_string(rows - row) + " more " + (what ? what : tableClass) +
                "</summary>\n<table class=\"" + tableClass + "\">\n";
    }
    void endFold(std::size_t rows) {
        out_ += "</table>\n";
        if (rows > kOpenEvents) out_ += "</details>\n";
    }

    void events(const JobStory& j) {
        out_ += "<h3>Events</h3>\n";
        if (j.events.empty()) {
            out_ += "<p class=\"empty\">No events.</p>\n";
            return;
        }
        out_ += "<table class=\"events\">\n<tr><th>time</th><th class=\"num\">run</th><th>sev</th>"
                "<th>message, objects and detail</th></tr>\n";
        for (std::size_t i = 0; i < j.events.size(); ++i) {
            const EventStory& e = j.events[i];
            foldAt(i, j.events.size(), "events");
            out_ += "<tr class=\"event\"><td class=\"mono\">" + clockAt(facts_.began, e.at) + "</td><td class=\"num\">" +
                    std::to_string(e.run) + "</td><td>" + severityChip(e.severity) + "</td><td><div class=\"msg\">" +
                    escapeHtml(e.message) + "</div><div class=\"sub\">" +
                    (e.objects.empty() ? "" : "<span class=\"obj\">" + escapeHtml(e.objects) + "</span> ") +
                    escapeHtml(e.detail) + "</div></td></tr>\n";
        }
        endFold(j.events.size());
    }

    void errors(const JobStory& j) {
        if (j.errors.empty() && j.failures.empty()) return;
        out_ += "<h3>Script errors and failures</h3>\n<table>\n<tr><th>where</th><th>what</th><th class=\"num\">line</th>"
                "<th>source</th></tr>\n";
        // One row per message, with every run it came in, as on the terminal.
        for (const ProblemGroup& g : problemGroups(j))
            out_ += std::string("<tr class=\"") + (g.scriptError ? "script-error" : "failure") + "\"><td>" +
                    escapeHtml(whereText(g.step, g.runs)) + "</td><td class=\"err\">" + escapeHtml(g.text) +
                    "</td><td class=\"num\">" + (g.line ? std::to_string(g.line) : "") + "</td><td class=\"mono\">" +
                    escapeHtml(g.source) + "</td></tr>\n";
        out_ += "</table>\n";
    }

    // What the script wrote to the agent's trace, run by run.
    void traces(const JobStory& j) {
        if (j.traces.empty()) return;
        out_ += "<h3>Trace lines</h3>\n<table class=\"traces\">\n<tr><th>time</th><th class=\"num\">run</th>"
                "<th>ZTrace</th></tr>\n";
        for (std::size_t i = 0; i < j.traces.size(); ++i) {
            const TraceStory& t = j.traces[i];
            foldAt(i, j.traces.size(), "traces", "trace lines");
            out_ += "<tr class=\"trace\"><td class=\"mono\">" + clockAt(facts_.began, t.at) + "</td><td class=\"num\">" +
                    std::to_string(t.run) + "</td><td class=\"mono\">" + escapeHtml(t.text) + "</td></tr>\n";
        }
        endFold(j.traces.size());
    }

    // With --every: how far past its slot a run went.
    static std::string overrun(const RunStory& r) {
        if (!r.overran) return "";
        return " <span class=\"late-note\">overran its slot" +
               (r.end >= 0 ? " by " + seconds(r.end - r.slotEnd) : std::string()) + "</span>";
    }

    // Longer lists stay folded.
    static constexpr std::size_t kOpenRuns = 5;
    static constexpr std::size_t kOpenEvents = 6;

    void runs(const JobStory& j) {
        out_ += "<h3>Runs</h3>\n";
        if (j.runs.empty()) {
            out_ += "<p class=\"empty\">No runs.</p>\n";
            return;
        }
        // One mark per run to see at a glance, the table to read.
        out_ += "<div class=\"strip\">";
        for (const RunStory& r : j.runs)
            out_ += "<span class=\"" + std::string(r.succeeded ? "ok" : "bad") + (r.overran ? " late" : "") +
                    "\" title=\"run " + std::to_string(r.run) + ": " + escapeHtml(r.result) +
                    (r.overran ? ", overran its slot" : "") + "\"></span>";
        out_ += "</div>\n";
        bool fold = j.runs.size() > kOpenRuns;
        if (fold) out_ += "<details><summary>" + std::to_string(j.runs.size()) + " runs</summary>\n";
        out_ += "<table>\n<tr><th class=\"num\">run</th><th>start</th><th class=\"num\">since start</th>"
                "<th class=\"num\">duration</th><th>result</th></tr>\n";
        for (const RunStory& r : j.runs)
            out_ += std::string("<tr class=\"run") + (r.overran ? " overran" : "") + "\" data-run=\"" + std::to_string(r.run) + "\" data-start-ms=\"" +
                    fixed(r.start * 1000, 0) + "\" data-end-ms=\"" + (r.end >= 0 ? fixed(r.end * 1000, 0) : "") + "\"><td class=\"num\">" + std::to_string(r.run) + "</td><td class=\"mono\">" +
                    clockAt(facts_.began, r.start) + "</td><td class=\"num\">" + seconds(r.start) + "</td><td class=\"num\">" +
                    (r.end >= 0 ? seconds(r.end - r.start) : std::string("&#8212;")) + "</td><td" +
                    (r.succeeded ? "" : " class=\"err\"") + ">" + escapeHtml(r.result) + overrun(r) + "</td></tr>\n";
        out_ += "</table>\n";
        if (fold) out_ += "</details>\n";
    }

    // Calls the host refused without the core: the run was being ended.
    static std::string refusedNote(unsigned refused) {
        if (!refused) return "";
        return " <span class=\"refused\">" + std::to_string(refused) +
               " refused after the run&#39;s abort or stop</span>";
    }

    void callCounts(const JobStory& j) {
        out_ += "<h3>Core calls</h3>\n";
        if (j.calls.empty()) {
            out_ += "<p class=\"empty\">No core calls.</p>\n";
            return;
        }
        // Counted as the summary counts the job's core calls (with its
        // context); those its thread made without one are noted beside.
        unsigned most = 1;
        for (const auto& c : j.calls) most = std::max(most, c.second.withContext);
        out_ += "<table>\n<tr><th>operation</th><th class=\"num\">calls</th><th></th></tr>\n";
        for (const auto& c : j.calls) {
            unsigned n = c.second.withContext;
            out_ += "<tr class=\"op\"><td class=\"mono\">" + escapeHtml(c.first) + "</td><td class=\"num\">" +
                    std::to_string(n) + "</td><td><span class=\"bar\" style=\"width:" +
                    std::to_string(4 + 240 * n / most) + "px\"></span>" +
                    (c.second.withoutContext ? " <span class=\"meta\">" + std::to_string(c.second.withoutContext) +
                                                   " without the job&#39;s context</span>"
                                             : "") +
                    refusedNote(c.second.refused) + "</td></tr>\n";
        }
        out_ += "</table>\n";
    }

    // Shown only for a job that met the fake machine.
    void machineCounts(const JobStory& j) {
        if (j.machine.empty()) return;
        out_ += "<h3>Fake machine calls</h3>\n<table>\n<tr><th>member</th><th class=\"num\">calls</th></tr>\n";
        for (const auto& [member, n] : j.machine)
            out_ += "<tr class=\"op\"><td class=\"mono\">" + escapeHtml(member) + "</td><td class=\"num\">" +
                    std::to_string(n) + "</td></tr>\n";
        out_ += "</table>\n";
    }

    const ReportFacts& facts_;
    std::string out_;
};

}  // namespace

std::string escapeHtml(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string reportHtml(const ReportFacts& facts) { return Writer(facts).html(); }

namespace {

// The partial file's handle, closed before the file is moved.
class PartialFile {
public:
    explicit PartialFile(const std::wstring& path)
        : h_(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~PartialFile() { close(); }
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;
    bool opened() const { return h_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return h_; }
    bool close() {
        bool ok = h_ == INVALID_HANDLE_VALUE || CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
        return ok;
    }

private:
    HANDLE h_;
};

}  // namespace

bool ReportFile::open(const std::wstring& path, std::wstring& error) {
    path_ = path;
    partial_ = path + L".partial";
    PartialFile probe(partial_);
    if (!probe.opened()) {
        error = systemMessage(GetLastError());
        return false;
    }
    probe.close();
    DeleteFileW(partial_.c_str());
    return true;
}

bool ReportFile::write(const std::string& html, std::wstring& error) {
    DWORD failure = ERROR_SUCCESS;
    {
        PartialFile file(partial_);
        DWORD written = 0;
        if (!file.opened() ||
            !WriteFile(file.get(), html.data(), static_cast<DWORD>(html.size()), &written, nullptr) ||
            written != html.size() || !FlushFileBuffers(file.get()) || !file.close())
            failure = GetLastError();
    }
    if (failure == ERROR_SUCCESS &&
        !MoveFileExW(partial_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        failure = GetLastError();
    if (failure == ERROR_SUCCESS) return true;
    error = systemMessage(failure ? failure : ERROR_WRITE_FAULT);
    DeleteFileW(partial_.c_str());
    return false;
}
