// Layout faults found from the boxes of the drawn text and elements, not from
// pixels: a range over each text node gives the boxes its glyphs occupy, and
// those are compared with each other, with the controls and with the boxes
// that clip them; controls and rows are checked against the boxes that clip
// them from above and below, elements against the panel they belong to, and
// controls side by side against each other's height. `findLayoutFaults` runs
// inside the page (pass it to page.evaluate); it returns one line per fault,
// empty when the layout holds together.

/**
 * Options: `root` (selector of the region to check), `tolerance` (pixels of
 * overlap that still count as touching), `firstScreen` (selector of an element
 * that must end within the first screen, with `firstScreenMargin` pixels of
 * the region below it visible too).
 */
export function findLayoutFaults({ root = '.app', tolerance = 1.5, firstScreen = null, firstScreenMargin = 0 } = {}) {
  const faults = [];
  const viewWidth = document.documentElement.clientWidth;
  const viewHeight = window.innerHeight;

  if (document.documentElement.scrollWidth > viewWidth + 0.5) {
    faults.push(`page is ${document.documentElement.scrollWidth}px wide in a ${viewWidth}px window`);
  }
  if (firstScreen) {
    const box = document.querySelector(firstScreen)?.getBoundingClientRect();
    const bottom = box ? box.bottom + window.scrollY : Infinity;
    if (bottom + firstScreenMargin > viewHeight) {
      faults.push(`${firstScreen} ends at ${Math.round(bottom)}px, below the first screen of ${viewHeight}px`);
    }
  }

  const describe = (element) => {
    const id = element.id ? `#${element.id}` : '';
    const cls = typeof element.className === 'string' && element.className ? `.${element.className.trim().split(/\s+/).join('.')}` : '';
    return `${element.tagName.toLowerCase()}${id}${cls}`;
  };
  const intersect = (a, b) => ({
    left: Math.max(a.left, b.left), right: Math.min(a.right, b.right),
    top: Math.max(a.top, b.top), bottom: Math.min(a.bottom, b.bottom),
  });
  const overlaps = (a, b) => Math.min(a.right, b.right) - Math.max(a.left, b.left) > tolerance
    && Math.min(a.bottom, b.bottom) - Math.max(a.top, b.top) > tolerance;
  const visible = (element) => element.checkVisibility({ opacityProperty: true, visibilityProperty: true, contentVisibilityAuto: true });

  // The boxes that clip the content of an element: the element itself when
  // its overflow is not visible, and every such ancestor.
  const clipCache = new Map();
  function clipsOf(element) {
    if (!element || element === document.body || element === document.documentElement) return [];
    if (clipCache.has(element)) return clipCache.get(element);
    let own = clipsOf(element.parentElement);
    const s = getComputedStyle(element);
    if (s.overflowX !== 'visible' || s.overflowY !== 'visible') {
      const r = element.getBoundingClientRect();
      own = [...own, {
        element, style: s,
        rect: {
          left: r.left + parseFloat(s.borderLeftWidth), right: r.right - parseFloat(s.borderRightWidth),
          top: r.top + parseFloat(s.borderTopWidth), bottom: r.bottom - parseFloat(s.borderBottomWidth),
        },
      }];
    }
    clipCache.set(element, own);
    return own;
  }
  // Clipping is allowed where the clipping box says so: an ellipsis on a
  // one-line box, or a scroll box that shows a cue at its cut edges.
  const hasCue = (style) => style.backgroundAttachment.split(',').some((part) => part.trim() === 'local');
  const ellipsis = (style) => style.textOverflow === 'ellipsis';
  const scrollsWithCue = (style, axis) => ['auto', 'scroll'].includes(style[axis]) && hasCue(style);

  const regionRoot = document.querySelector(root);
  const texts = [];
  // Hidden subtrees (closed panels, rows skipped by content-visibility) are
  // passed over whole.
  const walker = document.createTreeWalker(regionRoot, NodeFilter.SHOW_ELEMENT | NodeFilter.SHOW_TEXT, (node) => {
    if (node.nodeType === Node.TEXT_NODE) return node.data.trim() ? NodeFilter.FILTER_ACCEPT : NodeFilter.FILTER_REJECT;
    return node.hidden || !node.checkVisibility({ contentVisibilityAuto: true }) ? NodeFilter.FILTER_REJECT : NodeFilter.FILTER_SKIP;
  });
  for (let node = walker.nextNode(); node; node = walker.nextNode()) {
    const parent = node.parentElement;
    if (!visible(parent)) continue;
    const range = document.createRange();
    range.selectNodeContents(node);
    const clips = clipsOf(parent);
    const label = `"${node.data.trim().slice(0, 40)}" in ${describe(parent)}`;
    for (const rect of range.getClientRects()) {
      if (rect.width < 0.5 || rect.height < 0.5) continue;
      let shown = { left: rect.left, right: rect.right, top: rect.top, bottom: rect.bottom };
      // The innermost box that cuts the text is the one to name.
      for (const clip of [...clips].reverse()) {
        const cutLeft = shown.left < clip.rect.left - tolerance;
        const cutRight = shown.right > clip.rect.right + tolerance;
        const inView = shown.bottom > clip.rect.top && shown.top < clip.rect.bottom;
        if (!(cutLeft || cutRight) || !inView) continue;
        if (ellipsis(clip.style) || scrollsWithCue(clip.style, 'overflowX')) break;
        faults.push(`${label} is cut off at the ${cutRight ? 'right' : 'left'} edge of ${describe(clip.element)}`);
        break;
      }
      for (const clip of clips) shown = intersect(shown, clip.rect);
      if (shown.right - shown.left > tolerance && shown.bottom - shown.top > tolerance) {
        texts.push({ node, parent, label, rect: shown });
      }
    }
  }

  // Text over text: boxes of different text nodes that overlap.
  texts.sort((a, b) => a.rect.top - b.rect.top);
  for (let i = 0; i < texts.length; i += 1) {
    for (let j = i + 1; j < texts.length && texts[j].rect.top < texts[i].rect.bottom - tolerance; j += 1) {
      if (texts[i].node !== texts[j].node && overlaps(texts[i].rect, texts[j].rect)) {
        faults.push(`${texts[i].label} overlaps ${texts[j].label}`);
      }
    }
  }

  // Text over a control: a text box overlapping a control that does not hold it.
  const controls = [...regionRoot.querySelectorAll('button, input:not([type="hidden"]), select, textarea')]
    .filter(visible)
    .map((control) => {
      const r = control.getBoundingClientRect();
      let shown = { left: r.left, right: r.right, top: r.top, bottom: r.bottom };
      for (const clip of clipsOf(control.parentElement)) shown = intersect(shown, clip.rect);
      return { control, rect: shown };
    })
    .filter(({ rect }) => rect.right - rect.left > tolerance && rect.bottom - rect.top > tolerance);
  for (const text of texts) {
    for (const { control, rect } of controls) {
      if (control.contains(text.parent) || text.parent.closest('label')?.contains(control)) continue;
      if (overlaps(text.rect, rect)) faults.push(`${text.label} overlaps the control ${describe(control)}`);
    }
  }

  // What a field shows is text too: a value, placeholder or chosen option
  // wider than the field's text area is cut off without a hint.
  const canvas = document.createElement('canvas').getContext('2d');
  for (const { control } of controls) {
    let shown = '';
    let room = 0;
    const s = getComputedStyle(control);
    // From the border box: Firefox's clientWidth of a field leaves its padding out already.
    const inner = control.getBoundingClientRect().width - parseFloat(s.borderLeftWidth) - parseFloat(s.borderRightWidth)
      - parseFloat(s.paddingLeft) - parseFloat(s.paddingRight);
    if (control.tagName === 'SELECT') {
      shown = control.selectedOptions[0]?.text ?? '';
      // A native drop-down draws its arrow inside the text area; a select
      // drawn by the page keeps room for its arrow in its own padding.
      room = inner - (s.appearance === 'none' ? 0 : 16);
    } else if (control.tagName === 'INPUT' && !['checkbox', 'radio', 'range', 'color', 'file', 'button', 'submit'].includes(control.type)) {
      shown = control.value || control.placeholder;
      // The spin buttons, where the engine draws them.
      room = inner - (control.type === 'number' && s.appearance !== 'textfield' ? 16 : 0);
    } else continue;
    if (!shown) continue;
    canvas.font = `${s.fontStyle} ${s.fontWeight} ${s.fontSize} ${s.fontFamily}`;
    canvas.letterSpacing = s.letterSpacing === 'normal' ? '0px' : s.letterSpacing;
    const width = canvas.measureText(shown).width;
    if (width > room + tolerance) {
      faults.push(`${describe(control)} shows "${shown}" (${Math.round(width)}px) in ${Math.round(room)}px`);
    }
  }

  // A control or a row cut off at its top or bottom by a box that clips it,
  // unless that box scrolls downwards and shows a cue at its cut edges. An
  // element out of sight of a scroll box is hidden by it, not cut.
  const rows = 'li, tr, summary, .file-row, .obj-leaf, .obj-root-label, .obj-group-head, .plot-signal, .daq-row';
  for (const element of regionRoot.querySelectorAll(`button, input:not([type="hidden"]), select, ${rows}`)) {
    if (!visible(element)) continue;
    const r = element.getBoundingClientRect();
    if (r.height < 0.5 || r.width < 0.5) continue;
    for (const clip of [...clipsOf(element.parentElement)].reverse()) {
      if (r.bottom <= clip.rect.top + tolerance || r.top >= clip.rect.bottom - tolerance) break;
      const cutTop = r.top < clip.rect.top - tolerance;
      const cutBottom = r.bottom > clip.rect.bottom + tolerance;
      if (!cutTop && !cutBottom) continue;
      if (!scrollsWithCue(clip.style, 'overflowY')) {
        faults.push(`${describe(element)} is cut off at the ${cutBottom ? 'bottom' : 'top'} edge of ${describe(clip.element)}`);
      }
      break;
    }
  }

  // An element drawn outside the panel it belongs to (over its neighbours),
  // counting only the part that the boxes inside the panel leave visible.
  // Only the outermost of a stray subtree is named.
  for (const panel of regionRoot.querySelectorAll('[role="tabpanel"], .monitor, .setup, .toolbar, .notices, .app > footer')) {
    if (panel.hidden || !visible(panel)) continue;
    const bounds = panel.getBoundingClientRect();
    const stray = new Set();
    const inside = document.createTreeWalker(panel, NodeFilter.SHOW_ELEMENT, (node) => (
      node.hidden || !node.checkVisibility({ contentVisibilityAuto: true }) ? NodeFilter.FILTER_REJECT : NodeFilter.FILTER_ACCEPT));
    for (let element = inside.nextNode(); element; element = inside.nextNode()) {
      if (stray.has(element.parentElement)) {
        stray.add(element);
        continue;
      }
      const r = element.getBoundingClientRect();
      if (r.width < 0.5 || r.height < 0.5) continue;
      let shown = { left: r.left, right: r.right, top: r.top, bottom: r.bottom };
      for (const clip of clipsOf(element.parentElement)) {
        if (panel.contains(clip.element)) shown = intersect(shown, clip.rect);
      }
      if (shown.right - shown.left <= tolerance || shown.bottom - shown.top <= tolerance) continue;
      const out = { above: bounds.top - shown.top, below: shown.bottom - bounds.bottom, left: bounds.left - shown.left, right: shown.right - bounds.right };
      const [side, by] = Object.entries(out).sort((a, b) => b[1] - a[1])[0];
      if (by > tolerance) {
        stray.add(element);
        faults.push(`${describe(element)} reaches ${Math.round(by)}px ${side === 'above' || side === 'below' ? side : `to the ${side} of`} ${describe(panel)}`);
      }
    }
  }

  // Controls side by side (overlapping rows, at most a gap apart) are of one
  // height. A search box counts as one control with its input; a square icon
  // button is a glyph of its own size, not a field's neighbour.
  const SIDE_BY_SIDE_GAP = 32;
  const sized = [...regionRoot.querySelectorAll('button, input:not([type="hidden"], [type="checkbox"], [type="radio"]), select, .search')]
    .filter((control) => visible(control) && !(control.tagName === 'INPUT' && control.closest('.search')))
    .map((control) => {
      const rect = control.getBoundingClientRect();
      const clips = clipsOf(control.parentElement);
      let shown = { left: rect.left, right: rect.right, top: rect.top, bottom: rect.bottom };
      for (const clip of clips) shown = intersect(shown, clip.rect);
      const inSight = shown.right - shown.left > tolerance && shown.bottom - shown.top > tolerance;
      return { control, rect, inSight, within: clips.at(-1)?.element };
    })
    .filter(({ control, rect, inSight }) => inSight && !(control.tagName === 'BUTTON' && rect.width <= rect.height * 1.25));
  for (let i = 0; i < sized.length; i += 1) {
    for (let j = i + 1; j < sized.length; j += 1) {
      const [a, b] = [sized[i], sized[j]];
      // Only neighbours inside the same clipping box: a scrolled sidebar is not beside the main area.
      if (a.within !== b.within) continue;
      const sharedRow = Math.min(a.rect.bottom, b.rect.bottom) - Math.max(a.rect.top, b.rect.top);
      const gap = Math.max(a.rect.left, b.rect.left) - Math.min(a.rect.right, b.rect.right);
      if (sharedRow < 0.6 * Math.min(a.rect.height, b.rect.height) || gap < 0 || gap > SIDE_BY_SIDE_GAP) continue;
      if (Math.abs(a.rect.height - b.rect.height) > 1) {
        faults.push(`${describe(a.control)} (${a.rect.height.toFixed(1)}px high) beside ${describe(b.control)} (${b.rect.height.toFixed(1)}px)`);
      }
    }
  }
  return faults;
}
