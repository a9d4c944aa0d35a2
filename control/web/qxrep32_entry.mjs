// qxrep32.js: turns every OBJECT element with the control's class
// identifier into a viewer (the page loads this script after its body), and
// offers the three.js loader to page scripts as QXRep32Lib.
import createVermelleDecoder from 'vermelle-decoder';

import { QXLoader, StreamingModel } from './qx_loader.mjs';
import { QXRep32Viewer, readParams } from './viewer.mjs';

export const CLASS_ID = '9F82DFD3-D1E5-43F3-99F3-49FE6560937C';

/* global __BUILD_DATE__ */
const BUILD_DATE = typeof __BUILD_DATE__ === 'string' ? __BUILD_DATE__ : 'Jan 1 2000';

/** Starts a viewer in every control OBJECT of the document not started yet. */
export function startViewers(root = document) {
  const viewers = [];
  for (const element of root.querySelectorAll('object')) {
    const classId = String(element.getAttribute('classid') ?? '').toUpperCase();
    if (!classId.endsWith(CLASS_ID) || element.qxViewer) continue;
    const params = readParams(element);
    const viewer = new QXRep32Viewer(element, { decoder: createVermelleDecoder, buildDate: BUILD_DATE });
    // The file name last, so the download starts with every other value set.
    const { QXFileName, ...rest } = params;
    Object.assign(element, rest);
    if (QXFileName !== undefined) element.QXFileName = QXFileName;
    else element.QXFileName = element.QXFileName;
    viewers.push(viewer);
  }
  return viewers;
}

if (typeof document !== 'undefined') {
  if (document.readyState === 'loading') document.addEventListener('DOMContentLoaded', () => startViewers());
  else startViewers();
}

export { QXLoader, StreamingModel, QXRep32Viewer };
