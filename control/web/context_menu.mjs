// The viewer's context menu (right button): the editor's menu items that
// make sense in a page — draw modes, progressive or selective refinement,
// anti-aliasing, cull face, smoothing, vertex array, the lights, axis,
// status bar, going to the selection, About and the web site.
// Each item is data: its text, whether it is checked, what it does.

export const HOME_PAGE = 'http://www.trevalis.example/';

// The editor's menu texts, as they stand.
const LIGHT_TEXTS = ['Light 0', 'Lilght 1'];

const SMOOTH_STEPS = ['Goureaud', '10º', '20º', '30º', '40º', '50º', '60º', '70º', '80º', 'Flat'];

// Which of the smoothing items is checked for a shading level, as the
// editor's menu does: trunc((acos(L) in degrees + 5) / 10).
export function smoothIndex(level) {
  const degrees = (Math.acos(Math.min(1, Math.max(0, level))) * 180) / Math.PI;
  return Math.min(9, Math.trunc((degrees + 5) / 10));
}

/** The menu of `viewer` as sections of items {text, checked, run, enabled}. */
export function menuItems(viewer) {
  const element = viewer.element;
  const toggle = (name) => () => { element[name] = !element[name]; };
  const mode = (text, value) => ({ text, checked: viewer.drawMode === value, run: () => { viewer.drawMode = value; } });
  const smooth = SMOOTH_STEPS.map((text, k) => ({
    text,
    checked: smoothIndex(element.SmoothAngle) === k,
    run: () => { element.SmoothAngle = k === 9 ? 0 : Math.cos((k * 10 * Math.PI) / 180); },
  }));
  return [
    [mode('Solid', 'solid'), mode('Points', 'points'), mode('Edges', 'edges'), mode('Hidden points', 'hidden-points'),
      mode('Hidden lines', 'hidden-lines')],
    [{ text: 'Progressive', checked: !viewer.selective, run: () => { viewer.selective = false; } },
      { text: 'Selective (Frustum Demo)', checked: viewer.selective, run: () => { viewer.selective = true; } }],
    [{ text: 'Anti-Aliasing', checked: element.Antialiasing, run: toggle('Antialiasing') },
      { text: 'CullFace', checked: element.CullFace, run: toggle('CullFace') },
      { text: 'Vertex Array', checked: element.UseVertexArray, run: toggle('UseVertexArray'),
        enabled: element.SmoothAngle === 1 }],
    smooth,
    [{ text: 'Enabled Lights', checked: viewer.lighting, run: () => { viewer.lighting = !viewer.lighting; } },
      { text: 'Two Side', checked: element.TwoSideLight, run: toggle('TwoSideLight') },
      ...viewer.lights.map((light, k) => ({ text: LIGHT_TEXTS[k], checked: light.visible, run: () => viewer.toggleLight(k) })),
      { text: 'Show Axis', checked: element.ShowAxis, run: toggle('ShowAxis') },
      { text: 'Show Status Bar', checked: element.ShowStatusBar, run: toggle('ShowStatusBar') }],
    [{ text: 'Goto selected', run: () => viewer.gotoSelected() }],
    [{ text: 'About Trevalis ...', run: () => element.AboutBox() },
      { text: 'Visit Trevalis Web Site', run: () => window.open(HOME_PAGE, '_blank', 'noopener') }],
  ];
}

/** Opens the menu at the pointer, inside the viewer's element; closes on a choice or outside click. */
export function openMenu(viewer, x, y) {
  closeMenu(viewer);
  const menu = document.createElement('div');
  Object.assign(menu.style, { position: 'absolute', left: `${x}px`, top: `${y}px`, background: '#f4f4f4',
    border: '1px solid #888', font: '12px sans-serif', padding: '2px 0', zIndex: '10', maxHeight: '100%',
    overflowY: 'auto', boxShadow: '2px 2px 4px rgba(0,0,0,0.3)', textAlign: 'left' });
  menu.setAttribute('role', 'menu');
  for (const [k, section] of menuItems(viewer).entries()) {
    if (k > 0) menu.appendChild(Object.assign(document.createElement('hr'), { style: 'margin:2px 0' }));
    for (const item of section) {
      const row = document.createElement('div');
      row.setAttribute('role', 'menuitemcheckbox');
      row.textContent = `${item.checked ? '✓' : '\u2003'} ${item.text}`;
      const enabled = item.enabled ?? true;
      Object.assign(row.style, { padding: '1px 12px 1px 4px', cursor: enabled ? 'pointer' : 'default',
        color: enabled ? '#000' : '#999', whiteSpace: 'nowrap' });
      if (enabled) row.addEventListener('click', () => { closeMenu(viewer); item.run(); });
      menu.appendChild(row);
    }
  }
  viewer.element.appendChild(menu);
  viewer.menu = menu;
  setTimeout(() => document.addEventListener('pointerdown', viewer.closeMenuOutside = (event) => {
    if (!menu.contains(event.target)) closeMenu(viewer);
  }), 0);
}

export function closeMenu(viewer) {
  viewer.menu?.remove();
  viewer.menu = null;
  if (viewer.closeMenuOutside) document.removeEventListener('pointerdown', viewer.closeMenuOutside);
  viewer.closeMenuOutside = null;
}
