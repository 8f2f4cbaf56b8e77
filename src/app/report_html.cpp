// The report people open: DIR/index.html, one self-contained page (its
// style and script inside it, nothing from the network) that shows the
// pictures the workers wrote into DIR/pictures. Every name reaches the
// page as JSON data and is put into it as text by the page's script, never
// as markup, so a file name cannot inject an element or a script.
#include <cstdio>
#include <filesystem>
#include <vector>

#include "app/report.h"
#include "common/log.h"
#include "image/atomic_file.h"

namespace {

const char* const kPictureNames[kReportPictures] = {"a", "b", "difference", "highlight"};

const char* const kPageHead = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>glimra report</title>
<style>
body { margin: 0; font: 14px/1.4 system-ui, sans-serif; color: #222; display: flex; height: 100vh; }
#side { width: 22rem; border-right: 1px solid #ccc; display: flex; flex-direction: column; }
#summary { padding: .5rem; border-bottom: 1px solid #ccc; }
button { font: inherit; margin: .1rem; padding: .1rem .5rem; border: 1px solid #999; background: #f4f4f4; }
button.on { background: #334; color: #fff; }
#filter { margin: .5rem; padding: .2rem; font: inherit; }
#pairs { list-style: none; margin: 0; padding: 0; overflow: auto; flex: 1; }
#pairs li { padding: .2rem .5rem; cursor: pointer; border-left: .3rem solid #888; word-break: break-all; }
#pairs li.selected { background: #e4e8f6; }
#pairs li.identical { border-color: #4a4; }
#pairs li.different { border-color: #d33; }
#pairs li.similar { border-color: #8b4; }
#pairs li.failed { border-color: #e90; }
#main { flex: 1; overflow: auto; padding: .8rem; }
#title { margin: 0 0 .5rem; font-size: 1.1rem; word-break: break-all; }
#facts td { padding: 0 1rem 0 0; vertical-align: top; word-break: break-all; }
#stage { margin-top: .8rem; }
#stage img { image-rendering: pixelated; display: block; max-width: none; }
figure { margin: 0 .8rem .8rem 0; display: inline-block; vertical-align: top; }
figcaption { color: #666; }
.stack { position: relative; display: inline-block; }
.stack img.top { position: absolute; left: 0; top: 0; }
.overlay img.top { mix-blend-mode: screen; }
.window { position: relative; overflow: hidden; border: 1px solid #ccc; }
.window img { position: absolute; left: 0; top: 0; transform-origin: 0 0; }
#help { color: #666; margin-top: 1rem; }
</style>
</head>
<body>
<div id="side">
<div id="summary"></div>
<input id="filter" type="search" placeholder="Filter by name" aria-label="Filter by name">
<ul id="pairs"></ul>
</div>
<div id="main">
<h1 id="title">glimra report</h1>
<table id="facts"></table>
<div id="views"></div>
<div id="stage"></div>
<p id="help">Keys: j or &darr; next pair, k or &uarr; previous, 1&ndash;5 views.</p>
</div>
<script id="data" type="application/json">)";

const char* const kPageTail = R"(</script>
<script>
'use strict';
const data = JSON.parse(document.getElementById('data').textContent);
const statuses = ['different', 'failed', 'missing', 'similar', 'identical'];
const views = [['side', 'Side by side'], ['slider', 'Slider'], ['blink', 'Blink'],
               ['overlay', 'Difference on A'], ['zoom', 'Zoom to the difference']];
const shown = new Set(['different', 'failed', 'missing', 'similar']);
const $ = (id) => document.getElementById(id);
let selected = null;
let view = 'side';
let blink = null;

function element(tag, attributes, ...children) {
  const e = document.createElement(tag);
  for (const [key, value] of Object.entries(attributes || {})) {
    if (key === 'text') e.textContent = value;
    else if (key === 'class') e.className = value;
    else e.setAttribute(key, value);
  }
  e.append(...children);
  return e;
}

// Small pictures grow by a whole factor, pixel for pixel; large ones stay
// at full resolution.
function scaled(pair) {
  return pair.width ? Math.max(1, Math.floor(360 / Math.max(pair.width, pair.height))) : 1;
}

function picture(pair, which, attributes) {
  const size = pair.width ? {width: String(pair.width * scaled(pair))} : {};
  return element('img', Object.assign({src: pair.pictures[which], alt: which}, size, attributes || {}));
}

function listed() {
  const wanted = $('filter').value.toLowerCase();
  return data.pairs.filter((p) => shown.has(p.status) && p.name.toLowerCase().includes(wanted));
}

function renderSummary() {
  $('summary').replaceChildren(...statuses.map((status) => {
    const count = data.pairs.filter((p) => p.status === status).length;
    const button = element('button', {class: shown.has(status) ? 'on' : '', 'data-status': status,
                                      text: count + ' ' + status});
    button.onclick = () => {
      if (shown.has(status)) shown.delete(status); else shown.add(status);
      renderSummary();
      renderList();
    };
    return button;
  }));
}

function renderList() {
  $('pairs').replaceChildren(...listed().map((pair) => {
    const item = element('li', {class: pair.status + (pair === selected ? ' selected' : ''),
                                'data-index': String(pair.index), text: pair.name});
    item.onclick = () => select(pair);
    return item;
  }));
}

function fact(label, value) {
  return element('tr', {}, element('td', {text: label}), element('td', {text: value}));
}

function renderFacts(pair) {
  const rows = [fact('Status', pair.status)];
  if (pair.message) rows.push(fact('Message', pair.message));
  if (pair.missing) rows.push(fact('Missing in', pair.missing === 'a' ? 'A' : 'B'));
  if (pair.width !== undefined) {
    rows.push(fact('Size', pair.width + ' x ' + pair.height));
    rows.push(fact('Differing pixels', pair.differingPixels + ' (' + (pair.share * 100).toPrecision(4) + ' %)'));
    if (pair.box) rows.push(fact('Box', pair.box.width + ' x ' + pair.box.height + ' at ' + pair.box.x + ',' + pair.box.y));
    rows.push(fact('Largest difference', String(pair.largestDelta)));
    if (pair.antialiasedPixels !== undefined) rows.push(fact('Anti-aliased, left out', String(pair.antialiasedPixels)));
  }
  rows.push(fact('A', pair.a), fact('B', pair.b));
  $('facts').replaceChildren(...rows);
}

function figure(caption, content) {
  return element('figure', {}, content, element('figcaption', {text: caption}));
}

// A window on the differing box (with a margin), scaled up pixel for pixel.
function zoomed(pair, which) {
  const margin = 4;
  const x = Math.max(0, pair.box.x - margin);
  const y = Math.max(0, pair.box.y - margin);
  const width = Math.min(pair.width - x, pair.box.width + 2 * margin);
  const height = Math.min(pair.height - y, pair.box.height + 2 * margin);
  const scale = Math.max(1, Math.min(32, Math.floor(480 / Math.max(width, height))));
  const image = picture(pair, which, {width: String(pair.width),
                                      style: 'transform: scale(' + scale + ') translate(' + -x + 'px, ' + -y + 'px)'});
  return element('div', {class: 'window', style: 'width: ' + width * scale + 'px; height: ' + height * scale + 'px'}, image);
}

function renderStage(pair) {
  clearInterval(blink);
  const stage = $('stage');
  const has = (which) => pair.pictures[which] !== undefined;
  if (!has('a') || !has('b')) {
    stage.replaceChildren();
    return;
  }
  if (view === 'slider') {
    const top = picture(pair, 'b', {class: 'top'});
    const range = element('input', {type: 'range', min: '0', max: '100', value: '50', 'aria-label': 'Slider'});
    const place = () => { top.style.clipPath = 'inset(0 0 0 ' + range.value + '%)'; };
    range.oninput = place;
    place();
    stage.replaceChildren(element('div', {}, range), element('div', {class: 'stack'}, picture(pair, 'a'), top));
  } else if (view === 'blink') {
    const image = picture(pair, 'a');
    const caption = element('figcaption', {text: 'A'});
    let showingA = true;
    blink = setInterval(() => {
      showingA = !showingA;
      image.src = pair.pictures[showingA ? 'a' : 'b'];
      caption.textContent = showingA ? 'A' : 'B';
    }, 700);
    stage.replaceChildren(element('figure', {}, image, caption));
  } else if (view === 'overlay' && has('difference')) {
    stage.replaceChildren(figure('Difference on A', element('div', {class: 'stack overlay'},
                                                           picture(pair, 'a'), picture(pair, 'difference', {class: 'top'}))));
  } else if (view === 'zoom' && pair.box) {
    stage.replaceChildren(figure('A', zoomed(pair, 'a')), figure('B', zoomed(pair, 'b')));
  } else {
    const figures = [figure('A', picture(pair, 'a')), figure('B', picture(pair, 'b'))];
    if (has('highlight')) {
      const legend = pair.antialiasedPixels !== undefined ? 'Highlight: red counts, yellow is anti-aliasing' : 'Highlight';
      figures.push(figure(legend, picture(pair, 'highlight')));
    }
    stage.replaceChildren(...figures);
  }
}

function renderViews(pair) {
  const buttons = views.map(([name, label], i) => {
    const button = element('button', {class: name === view ? 'on' : '', 'data-view': name,
                                      title: 'Key ' + (i + 1), text: label});
    button.onclick = () => setView(name);
    return button;
  });
  $('views').replaceChildren(...(pair.pictures.a ? buttons : []));
}

function setView(name) {
  view = name;
  if (selected) select(selected);
}

function select(pair) {
  selected = pair;
  $('title').textContent = pair.name;
  renderFacts(pair);
  renderViews(pair);
  renderStage(pair);
  renderList();
}

function step(by) {
  const list = listed();
  if (list.length === 0) return;
  const at = list.indexOf(selected);
  select(list[Math.max(0, Math.min(list.length - 1, at < 0 ? 0 : at + by))]);
}

document.addEventListener('keydown', (event) => {
  if (event.target === $('filter')) return;
  if (event.key === 'j' || event.key === 'ArrowDown') { step(1); event.preventDefault(); }
  else if (event.key === 'k' || event.key === 'ArrowUp') { step(-1); event.preventDefault(); }
  else if (event.key >= '1' && event.key <= String(views.length)) setView(views[Number(event.key) - 1][0]);
});
$('filter').oninput = renderList;
renderSummary();
renderList();
if (listed().length > 0) select(listed()[0]);
</script>
</body>
</html>
)";

// JSON inside a script element: "<" cannot end it, nor "&" start anything.
std::string ForScript(const std::string& json) {
    std::string out;
    for (const char c : json) {
        switch (c) {
        case '<': out += "\\u003c"; break;
        case '>': out += "\\u003e"; break;
        case '&': out += "\\u0026"; break;
        default: out += c; break;
        }
    }
    return out;
}

class HtmlReport : public Report {
public:
    HtmlReport(const char* reportDir, std::FILE* complaintStream)
        : dir(reportDir), complaints(complaintStream) {}

    bool NeedsFacts() const override { return true; }

    void Pair(const BatchPair& pair, const PairRun& run) override {
        std::string json = FormatMessage("{\"index\":%zu,\"name\":", entries.size()) + JsonString(pair.name) +
                           ",\"a\":" + JsonString(pair.pathA) + ",\"b\":" + JsonString(pair.pathB) +
                           OutcomeFields(pair, run) + ",\"pictures\":{";
        const char* comma = "";
        for (unsigned i = 0; i < kReportPictures && pair.compare; ++i) {
            if ((run.record.reportPicturesPlaced & (1u << i)) != 0) {
                json += std::string(comma) + "\"" + kPictureNames[i] + "\":" +
                        JsonString(ReportPicturePath("", entries.size(), static_cast<ReportPicture>(i)));
                comma = ",";
            }
        }
        entries.push_back(json + "}}");
    }

    bool Finish(const StatusCounts&) override {
        std::string page = kPageHead;
        page += "{\"schema\":1,\"pairs\":[";
        for (std::size_t i = 0; i < entries.size(); ++i) {
            page += (i == 0 ? "" : ",\n") + ForScript(entries[i]);
        }
        page += "]}";
        page += kPageTail;
        return SaveReportFile(dir + "/index.html", page, complaints);
    }

private:
    std::string dir;
    std::FILE* complaints;
    std::vector<std::string> entries;
};

}  // namespace

std::string ReportPicturePath(const std::string& dir, std::size_t index, ReportPicture which) {
    return (dir.empty() ? "" : dir + "/") + FormatMessage("pictures/%zu-%s.png", index, kPictureNames[which]);
}

bool PrepareReportDirectory(const std::string& dir) {
    std::error_code error;
    std::filesystem::create_directories(dir + "/pictures", error);
    if (error) {
        return false;
    }
    // A file that can be made there, and goes again.
    const AtomicFile probe((dir + "/index.html").c_str());
    return probe.Stream() != nullptr;
}

void AssignReportPictures(std::vector<BatchPair>& pairs, const std::string& dir) {
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        for (unsigned which = 0; which < kReportPictures && pairs[i].compare; ++which) {
            pairs[i].reportPictures[which] = ReportPicturePath(dir, i, static_cast<ReportPicture>(which));
        }
    }
}

std::unique_ptr<Report> MakeHtmlReport(const char* dir, std::FILE* complaints) {
    return std::make_unique<HtmlReport>(dir, complaints);
}
