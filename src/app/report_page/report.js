// The report's script: lists the pairs, shows the chosen one in six views
// whose panes zoom and pan in step, and keeps the chosen pair in the
// address (index.html#NAME). Names reach the page as JSON and go into it as
// text, never as markup.
'use strict';
const data = JSON.parse(document.getElementById('data').textContent);
const statuses = ['different', 'failed', 'missing', 'similar', 'identical'];
const views = [
  ['side', 'Side by side', 'A, B and the highlight side by side'],
  ['difference', 'Difference', 'the highlight alone'],
  ['slider', 'Slider', 'A left of the split, B right of it'],
  ['blink', 'Blink', 'A and B in turn'],
  ['overlay', 'Overlay', 'the highlight over A'],
  ['box', 'Zoom to the box', 'the box of the differing pixels, as large as the pane allows'],
];
const shown = new Set(['different', 'failed', 'missing', 'similar']);
const $ = (id) => document.getElementById(id);
// The shown part of the pictures: picture pixel (x, y) at the pane's top
// left corner, `scale` screen pixels a picture pixel. `fit`: the pictures
// take the pane's width (never more than their own); `actual`: scale 1;
// otherwise the wheel chose the scale.
const view = {name: 'side', mode: 'fit', scale: 1, x: 0, y: 0};
let selected = null;
let blinking = null;

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

// The pictures' sizes: one for a pair of one size, A's and B's otherwise.
function sizeOf(pair, which) {
  if (pair.width !== undefined) return [pair.width, pair.height];
  if (pair.sizeA) return which === 'b' ? pair.sizeB : pair.sizeA;
  return null;
}

function has(pair, which) {
  return pair.pictures[which] !== undefined && sizeOf(pair, which) !== null;
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
                                'data-index': String(pair.index)}, element('span', {text: pair.name}));
    if (pair.updated) item.append(element('span', {class: 'badge', text: 'updated'}));
    item.onclick = () => choose(pair);
    return item;
  }));
}

function fact(label, value) {
  return element('tr', {}, element('td', {text: label}), element('td', {text: value}));
}

function renderFacts(pair) {
  const rows = [fact('Status', pair.status + (pair.reason === 'size' ? ': the sizes differ' : ''))];
  if (pair.updated) rows.push(fact('Updated', 'B is now the reference, at A\'s path'));
  if (pair.message) rows.push(fact('Message', pair.message));
  if (pair.missing) rows.push(fact('Missing in', pair.missing === 'a' ? 'A' : 'B'));
  if (pair.sizeA) rows.push(fact('Sizes', pair.sizeA.join(' x ') + ' against ' + pair.sizeB.join(' x ')));
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

// The views a pair can show: all six with a highlight, side by side,
// slider and blink without one (pictures of two sizes).
function viewsOf(pair) {
  if (!has(pair, 'a') || !has(pair, 'b')) return [];
  const needs = {difference: 'highlight', overlay: 'highlight', box: 'highlight'};
  return views.filter(([name]) => !needs[name] || (has(pair, needs[name]) && (name !== 'box' || pair.box)));
}

function highlightLegend(pair) {
  return 'Highlight: red differs' + (pair.antialiasedPixels !== undefined ? ', yellow is anti-aliasing' : '') +
         ', grey stripes were left out';
}

function renderToolbar(pair) {
  const usable = viewsOf(pair);
  if (!usable.some(([name]) => name === view.name)) view.name = 'side';
  $('views').replaceChildren(...usable.map(([name, label]) => {
    const key = views.findIndex(([n]) => n === name) + 1;
    const button = element('button', {class: name === view.name ? 'on' : '', 'data-view': name,
                                      title: 'Key ' + key, text: key + ' ' + label});
    button.onclick = () => setView(name);
    return button;
  }));
  $('toolbar').hidden = usable.length === 0;
  $('scale').textContent = view.mode === 'actual' ? 'Fit' : 'Actual size';
  $('opacity-control').hidden = view.name !== 'overlay';
  $('split-control').hidden = view.name !== 'slider';
  const [, , meaning] = views.find(([name]) => name === view.name);
  const keys = usable.map(([name, label]) => (views.findIndex(([n]) => n === name) + 1) + ' ' + label.toLowerCase());
  $('legend').textContent = usable.length === 0 ? '' :
    'Showing ' + meaning + '. ' + (has(pair, 'highlight') ? highlightLegend(pair) + '. ' : '') +
    'Keys: ' + keys.join(', ') + '; z fit or actual size; j, k next and previous pair. Wheel zooms, dragging pans.';
}

// A pane of the stage with its pictures, each a layer; `clipped` layers
// (the slider's B) sit in a box cut at the split.
function pane(caption, layers) {
  const box = element('div', {class: 'pane'});
  for (const layer of layers) {
    const image = element('img', {class: 'layer', src: layer.src, alt: layer.which, 'data-which': layer.which,
                                  width: String(layer.size[0]), height: String(layer.size[1])});
    if (layer.opacity !== undefined) image.style.opacity = String(layer.opacity);
    if (layer.clipped) {
      const clip = element('div', {class: 'clip'}, image);
      clip.style.clipPath = 'inset(0 0 0 ' + $('split').value + '%)';
      box.append(clip);
    } else {
      box.append(image);
    }
  }
  box.append(element('span', {class: 'caption', text: caption}));
  return box;
}

function layer(pair, which, extra) {
  return Object.assign({which, src: pair.pictures[which], size: sizeOf(pair, which)}, extra || {});
}

function panesOf(pair) {
  const a = layer(pair, 'a');
  const b = layer(pair, 'b');
  const highlight = has(pair, 'highlight') ? layer(pair, 'highlight') : null;
  switch (view.name) {
    case 'difference': return [pane('Highlight', [highlight])];
    case 'slider': return [pane('A | B', [a, Object.assign(b, {clipped: true})])];
    case 'blink': return [pane('A', [a, Object.assign(b, {opacity: 0})])];
    case 'overlay': return [pane('Highlight over A', [a, Object.assign(highlight, {opacity: $('opacity').value / 100})])];
    default: return [pane('A', [a]), pane('B', [b])].concat(highlight ? [pane('Highlight', [highlight])] : []);
  }
}

function renderStage(pair) {
  clearInterval(blinking);
  if (viewsOf(pair).length === 0) {
    $('stage').replaceChildren();
    return;
  }
  $('stage').replaceChildren(...panesOf(pair));
  if (view.name === 'blink') {
    let showingB = false;
    blinking = setInterval(() => {
      showingB = !showingB;
      const b = document.querySelector('#stage img[data-which="b"]');
      if (!b) return;
      b.style.opacity = showingB ? '1' : '0';
      document.querySelector('#stage .caption').textContent = showingB ? 'B' : 'A';
    }, 700);
  }
  for (const box of document.querySelectorAll('.pane')) panAndZoom(box);
  if (view.name === 'box') zoomToBox(pair); else if (view.mode !== 'wheel') fit(pair);
  place();
}

// The scale at which the widest picture takes a pane's width, at most 1.
function fit(pair) {
  const box = document.querySelector('.pane');
  const widest = Math.max(...['a', 'b'].map((w) => sizeOf(pair, w)[0]));
  view.scale = view.mode === 'actual' ? 1 : Math.min(1, box.clientWidth / widest);
  view.x = 0;
  view.y = 0;
}

// The differing box with a margin, as large as the pane allows, centred.
function zoomToBox(pair) {
  const box = document.querySelector('.pane');
  const margin = 4;
  const width = pair.box.width + 2 * margin;
  const height = pair.box.height + 2 * margin;
  view.scale = Math.min(64, box.clientWidth / width, box.clientHeight / height);
  view.x = pair.box.x - margin - (box.clientWidth / view.scale - width) / 2;
  view.y = pair.box.y - margin - (box.clientHeight / view.scale - height) / 2;
}

// Every pane shows the same part at the same scale.
function place() {
  const transform = 'translate(' + (-view.x * view.scale) + 'px, ' + (-view.y * view.scale) + 'px) scale(' +
                    view.scale + ')';
  for (const image of document.querySelectorAll('#stage .layer')) image.style.transform = transform;
  document.body.dataset.scale = String(view.scale);
}

function panAndZoom(box) {
  box.addEventListener('wheel', (event) => {
    event.preventDefault();
    const rect = box.getBoundingClientRect();
    const cx = event.clientX - rect.left;
    const cy = event.clientY - rect.top;
    // The picture pixel under the pointer stays under it.
    const px = view.x + cx / view.scale;
    const py = view.y + cy / view.scale;
    view.scale = Math.max(1 / 64, Math.min(64, view.scale * (event.deltaY < 0 ? 1.25 : 0.8)));
    view.x = px - cx / view.scale;
    view.y = py - cy / view.scale;
    view.mode = 'wheel';
    place();
  }, {passive: false});
  box.addEventListener('pointerdown', (event) => {
    const start = {x: event.clientX, y: event.clientY, viewX: view.x, viewY: view.y};
    box.setPointerCapture(event.pointerId);
    box.classList.add('dragging');
    box.onpointermove = (move) => {
      view.x = start.viewX - (move.clientX - start.x) / view.scale;
      view.y = start.viewY - (move.clientY - start.y) / view.scale;
      place();
    };
    box.onpointerup = () => {
      box.onpointermove = null;
      box.classList.remove('dragging');
    };
  });
}

function setView(name) {
  view.name = name;
  if (selected) show(selected);
}

function toggleScale() {
  view.mode = view.mode === 'actual' ? 'fit' : 'actual';
  if (view.name === 'box') view.name = 'side';
  if (selected) show(selected);
}

function show(pair) {
  // A scale chosen with the wheel was for the pair before.
  if (pair !== selected && view.mode === 'wheel') view.mode = 'fit';
  selected = pair;
  $('title').textContent = pair.name;
  renderFacts(pair);
  renderToolbar(pair);
  renderStage(pair);
  renderList();
}

// A pair chosen here: the address follows, so that the back button and a
// copied link come back to it.
function choose(pair) {
  const hash = '#' + encodeURIComponent(pair.name);
  if (location.hash !== hash) history.pushState(null, '', hash);
  $('note').hidden = true;
  show(pair);
}

function step(by) {
  const list = listed();
  if (list.length === 0) return;
  const at = list.indexOf(selected);
  choose(list[Math.max(0, Math.min(list.length - 1, at < 0 ? 0 : at + by))]);
}

// The pair the address names, or the first one, saying so.
function openFromAddress() {
  let name = null;
  try {
    name = location.hash.length > 1 ? decodeURIComponent(location.hash.slice(1)) : null;
  } catch (error) {
    name = location.hash.slice(1);
  }
  const named = name === null ? undefined : data.pairs.find((p) => p.name === name);
  const pair = named || listed()[0] || data.pairs[0];
  $('note').hidden = name === null || named !== undefined;
  if (!$('note').hidden) $('note').textContent = 'No pair is named "' + name + '"; showing the first one.';
  if (pair && !shown.has(pair.status)) {
    shown.add(pair.status);
    renderSummary();
  }
  if (pair) show(pair);
}

document.addEventListener('keydown', (event) => {
  if (event.target === $('filter') || event.altKey || event.ctrlKey || event.metaKey) return;
  const usable = selected ? viewsOf(selected).map(([name]) => name) : [];
  const chosen = event.key >= '1' && event.key <= '6' ? views[Number(event.key) - 1][0] : null;
  if (event.key === 'j' || event.key === 'ArrowDown') step(1);
  else if (event.key === 'k' || event.key === 'ArrowUp') step(-1);
  else if (event.key === 'z') toggleScale();
  else if (chosen && usable.includes(chosen)) setView(chosen);
  else return;
  event.preventDefault();
});
$('filter').oninput = renderList;
$('scale').onclick = toggleScale;
$('opacity').oninput = () => {
  const top = document.querySelector('#stage img[data-which="highlight"]');
  if (top) top.style.opacity = String($('opacity').value / 100);
};
$('split').oninput = () => {
  const clip = document.querySelector('#stage .clip');
  if (clip) clip.style.clipPath = 'inset(0 0 0 ' + $('split').value + '%)';
};
window.addEventListener('hashchange', openFromAddress);
window.addEventListener('resize', () => { if (selected && view.mode !== 'wheel') show(selected); });
renderSummary();
renderList();
openFromAddress();
