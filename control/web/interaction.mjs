// Mouse, wheel and touch on the viewer's canvas, as the editor's view
// window takes them:
//   left drag            orbit around the target
//   Ctrl + left drag     look around (the target turns about the eye)
//   Alt + left drag      zoom (towards or away from the target)
//   wheel, two fingers   zoom
//   Ctrl + right drag    move the lights
//   Shift + click        select or deselect the instance under the pointer
//   Ctrl + G             glide to the selection ("Goto selected")
//   right button         the context menu
// Orbit, look-around and zoom turn about the goal and set the target to it
// at once; only "Goto selected" leaves the target easing towards its goal.
import * as THREE from 'three';

const TURN_PER_PIXEL = 0.01;
const CLICK_SLOP = 3;

function zoom(viewer, factor) {
  const offset = viewer.camera.position.clone().sub(viewer.goal).multiplyScalar(factor);
  viewer.camera.position.copy(viewer.goal).add(offset);
  viewer.target.copy(viewer.goal);
  viewer.camera.lookAt(viewer.target);
}

function turn(centre, point, dx, dy) {
  const spherical = new THREE.Spherical().setFromVector3(point.clone().sub(centre));
  spherical.theta -= dx * TURN_PER_PIXEL;
  spherical.phi = Math.min(Math.PI - 1e-3, Math.max(1e-3, spherical.phi - dy * TURN_PER_PIXEL));
  return centre.clone().add(new THREE.Vector3().setFromSpherical(spherical));
}

function drag(viewer, event, dx, dy) {
  const camera = viewer.camera;
  if (event.buttons & 2) {
    if (!event.ctrlKey) return;
    for (const light of viewer.lights) light.position.copy(turn(new THREE.Vector3(), light.position, dx, dy));
  } else if (event.altKey) {
    zoom(viewer, Math.exp(dy * TURN_PER_PIXEL));
  } else if (event.ctrlKey) {
    viewer.goal.copy(turn(camera.position, viewer.goal, -dx, -dy));
  } else {
    camera.position.copy(turn(viewer.goal, camera.position, dx, dy));
  }
  viewer.target.copy(viewer.goal);
  camera.lookAt(viewer.target);
}

// Every selected instance loses its mark.
function clearSelection(viewer) {
  for (const child of viewer.model.children) {
    if (!child.userData.selectionBox) continue;
    viewer.scene.remove(child.userData.selectionBox);
    child.userData.selectionBox.dispose();
    child.userData.selectionBox = null;
  }
}

// Toggles the selection of the instance under the pointer (a selected
// instance shows its bounding box); a click on nothing clears the selection,
// as in the editor.
function pick(viewer, event) {
  const box = viewer.canvas.getBoundingClientRect();
  const pointer = new THREE.Vector2(((event.clientX - box.left) / box.width) * 2 - 1,
    -((event.clientY - box.top) / box.height) * 2 + 1);
  const raycaster = new THREE.Raycaster();
  raycaster.setFromCamera(pointer, viewer.camera);
  const fills = viewer.model.children.filter((child) => child.userData.layer === 'fill');
  const hit = raycaster.intersectObjects(fills, false)[0];
  if (!hit) {
    clearSelection(viewer);
    return;
  }
  const object = hit.object;
  if (object.userData.selectionBox) {
    viewer.scene.remove(object.userData.selectionBox);
    object.userData.selectionBox.dispose();
    object.userData.selectionBox = null;
  } else {
    object.userData.selectionBox = new THREE.BoxHelper(object, 0xffff00);
    viewer.scene.add(object.userData.selectionBox);
  }
}

export function installInteraction(viewer, onContextMenu) {
  const canvas = viewer.canvas;
  const pointers = new Map();
  let pressed = null;
  canvas.tabIndex = 0;
  canvas.addEventListener('keydown', (event) => {
    if (!event.ctrlKey || event.key.toLowerCase() !== 'g') return;
    event.preventDefault();
    viewer.gotoSelected();
  });
  canvas.addEventListener('pointerdown', (event) => {
    canvas.focus({ preventScroll: true });
    pointers.set(event.pointerId, [event.clientX, event.clientY]);
    pressed = [event.clientX, event.clientY];
    canvas.setPointerCapture(event.pointerId);
  });
  const release = (event) => {
    pointers.delete(event.pointerId);
    if (event.type === 'pointerup' && event.shiftKey && event.button === 0 && pressed && viewer.model &&
        Math.hypot(event.clientX - pressed[0], event.clientY - pressed[1]) <= CLICK_SLOP) {
      pick(viewer, event);
      viewer.dirty = true;
    }
    pressed = null;
  };
  canvas.addEventListener('pointerup', release);
  canvas.addEventListener('pointercancel', release);
  canvas.addEventListener('pointermove', (event) => {
    const previous = pointers.get(event.pointerId);
    if (!previous || !viewer.target) return;
    const others = [...pointers.entries()].filter(([id]) => id !== event.pointerId);
    pointers.set(event.pointerId, [event.clientX, event.clientY]);
    if (others.length === 1) {
      // Two fingers: the change of their distance zooms.
      const [, other] = others[0];
      const before = Math.hypot(previous[0] - other[0], previous[1] - other[1]);
      const after = Math.hypot(event.clientX - other[0], event.clientY - other[1]);
      if (before > 0 && after > 0) zoom(viewer, before / after);
    } else if (event.buttons) {
      drag(viewer, event, event.clientX - previous[0], event.clientY - previous[1]);
    }
    viewer.dirty = true;
  });
  canvas.addEventListener('contextmenu', (event) => {
    event.preventDefault();
    if (!event.ctrlKey) onContextMenu(event);
  });
  canvas.addEventListener('wheel', (event) => {
    if (!viewer.target) return;
    event.preventDefault();
    zoom(viewer, event.deltaY > 0 ? 1.1 : 1 / 1.1);
    viewer.dirty = true;
  }, { passive: false });
  canvas.style.touchAction = 'none';
}
