// The control's properties as a page script sees them: name, type, initial
// value, and how a value is read from a PARAM or a script assignment. Bad
// values are clamped or refused as the type allows; a refused value keeps
// the property as it was.

/** Reads "1", "0", "true", "false" (any case) and numbers; null when none of them. */
export function toBoolean(value) {
  if (typeof value === 'boolean') return value;
  if (typeof value === 'number') return Number.isFinite(value) ? value !== 0 : null;
  const text = String(value).trim().toLowerCase();
  if (text === 'true') return true;
  if (text === 'false') return false;
  const number = Number(text);
  return text !== '' && Number.isFinite(number) ? number !== 0 : null;
}

function toNumber(value) {
  const number = typeof value === 'number' ? value : Number(String(value).trim());
  return String(value).trim() !== '' && Number.isFinite(number) ? number : null;
}

/** A 32-bit float in lo..hi; null when not a number. */
export function toUnitFloat(value, lo = 0, hi = 1) {
  const number = toNumber(value);
  return number === null ? null : Math.fround(Math.min(hi, Math.max(lo, number)));
}

/** A 32-bit integer, at least `lo`; null when not a number. */
export function toInteger(value, lo = -(2 ** 31)) {
  const number = toNumber(value);
  return number === null ? null : Math.max(lo, Math.min(2 ** 31 - 1, Math.trunc(number)));
}

/**
 * A colour as the control takes it: an OLE colour number (0x00BBGGRR) or a
 * CSS colour "#rrggbb" / "#rgb"; [r, g, b] in 0..1, or null.
 */
export function toColour(value) {
  if (typeof value === 'number' || /^\s*\d+\s*$/.test(String(value))) {
    const number = Number(value);
    if (!Number.isInteger(number) || number < 0 || number > 0xffffff) return null;
    return [number & 0xff, (number >> 8) & 0xff, (number >> 16) & 0xff].map((c) => c / 255);
  }
  const match = /^\s*#([0-9a-f]{6}|[0-9a-f]{3})\s*$/i.exec(String(value));
  if (!match) return null;
  const hex = match[1].length === 3 ? [...match[1]].map((c) => c + c).join('') : match[1];
  return [0, 2, 4].map((at) => parseInt(hex.slice(at, at + 2), 16) / 255);
}

/**
 * The version number from a build date in the form "May 24 2004":
 * year × 10000 + day − 17999500 (the month is not used), 2040524 there.
 */
export function versionFromDate(date) {
  const [, day, year] = String(date).trim().split(/\s+/);
  return Number(year) * 10000 + Number(day) - 17999500;
}

/**
 * name → [parse, initial value].
 *
 * `UseVertexArray` is kept, read and written like the others but changes no
 * pixel, by design: on the desktop it chooses between two ways of sending
 * the same triangles to the card (indexed arrays for fully smooth meshes
 * under 65 535 vertices, or one call per vertex) that give the same
 * picture. WebGL has only the first way, and the viewer already draws every
 * mesh from buffers, so there is nothing left for the flag to switch; the
 * context menu still offers it, enabled only while `SmoothAngle` is 1.
 */
export const PROPERTIES = {
  Antialiasing: [toBoolean, false],
  CullFace: [toBoolean, false],
  ShowAxis: [toBoolean, false],
  SmoothAngle: [(v) => toUnitFloat(v), Math.fround(0.34202)],
  UseVertexArray: [toBoolean, false],
  EnableTolerance: [toBoolean, false],
  QXFileName: [(v) => String(v), 'image.3ds.qxz'],
  Tolerance: [(v) => toUnitFloat(v), 0],
  KbPerSecond: [(v) => toInteger(v, 1), 8],
  ShowStatusBar: [toBoolean, false],
  TwoSideLight: [toBoolean, false],
  BackColor: [toColour, [1, 1, 1]],
};
