// Scene commands shared by the editor's menu and the headless tools.
#pragma once

namespace qx {

class QXScene;
struct SaveDialogSettings;

enum class Axis { kX, kY, kZ };

// Turns the whole scene by +90 degrees (right-handed) about `axis` through
// the centre of the scene box: every root's matrix N becomes the shared
// matrix N x M, M = T(-centre) x R x T(centre); the box is then recomputed.
void RotateScene(QXScene& scene, Axis axis);

// Sets the scene's coder choices from the save options: the precision entry
// n stands for the error bound 2^-n; entry 0 ("None") leaves nothing to
// quantise, so positions are then stored raw whatever coder was chosen.
void ApplySaveSettings(const SaveDialogSettings& save, QXScene& scene);

}  // namespace qx
