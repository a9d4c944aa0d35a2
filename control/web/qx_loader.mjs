// QXLoader: streams a .qxz / .qx4 scene file into a three.js scene, coarse
// first and refining as the bytes come, in the manner of three.js loaders:
//
//   const loader = new QXLoader();
//   const model = loader.load('model.qxz', onLoad, onProgress, onError);
//   scene.add(model);              // shows what has arrived at every render
//
// `load` returns the model at once (a QXModel, a THREE.Group that refreshes
// its geometry whenever three.js updates its matrices, i.e. at every render)
// and calls onLoad(model) when the whole file is decoded, onProgress({loaded,
// total}) as bytes are fed and onError(error) when the download fails.
// `loadAsync(url, onProgress)` is the promise form. `kbPerSecond` paces the
// feed as the web control does (default: as fast as the bytes come).
import * as THREE from 'three';
import createVermelleDecoder from 'vermelle-decoder';

import { SceneDownload } from '../scene_download.mjs';
import { SceneStream } from '../scene_stream.mjs';
import { QXModel } from './qx_model.mjs';

// A rate that never waits between chunks.
const UNPACED = 1e9;

/** A QXModel that refreshes itself before three.js draws it. */
export class StreamingModel extends QXModel {
  updateMatrixWorld(force) {
    if (this.stream) this.refresh();
    super.updateMatrixWorld(force);
  }

  /** Stops the download and frees the geometry and the decoder. */
  dispose() {
    this.download?.stop();
    super.dispose();
    this.stream?.dispose();
    this.stream = null;
  }
}

export class QXLoader extends THREE.Loader {
  /**
   * @param {THREE.LoadingManager} [manager]
   * @param {{kbPerSecond?: number, decoder?: Function | string}} [options] `decoder`: the
   *   module factory or its URL (default: the one bundled with this loader)
   */
  constructor(manager, { kbPerSecond = UNPACED, decoder = createVermelleDecoder } = {}) {
    super(manager);
    this.kbPerSecond = kbPerSecond;
    this.decoder = decoder;
  }

  load(url, onLoad, onProgress, onError) {
    const model = new StreamingModel(null);
    const address = this.manager.resolveURL(this.path + url);
    this.manager.itemStart(address);
    const fail = (error) => {
      onError?.(error);
      this.manager.itemError(address);
      this.manager.itemEnd(address);
    };
    SceneStream.create(this.decoder).then((stream) => {
      model.stream = stream;
      const download = new SceneDownload(stream, { kbPerSecond: this.kbPerSecond });
      model.download = download;
      download.addEventListener('complete', () => {
        model.refresh();
        onLoad?.(model);
        this.manager.itemEnd(address);
      });
      download.addEventListener('error', (event) => fail(event.error));
      download.addEventListener('fed', () => onProgress?.({ loaded: download.bytesFed, total: 0 }));
      download.fileName = address;
    }, fail);
    return model;
  }
}
