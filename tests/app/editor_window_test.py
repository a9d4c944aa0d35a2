#!/usr/bin/env python3
"""The editor as a person meets it: the real vermelle window under an X
server, driven with keys and the mouse, checked on screenshots.

Usage: editor_window_test.py VERMELLE QXTOOL   (run under xvfb-run)
"""
import math
import os
import subprocess
import sys
import tempfile
import time
import unittest

VERMELLE, QXTOOL = sys.argv[1], sys.argv[2]
MENU_HEIGHT, STATUS_HEIGHT = 25, 22


def write_sphere_ply(path, rings=24, segments=48):
    """A UV sphere as an ASCII PLY file: enough triangles to simplify."""
    vertices = [(0.0, 1.0, 0.0)]
    for i in range(1, rings):
        theta = math.pi * i / rings
        for j in range(segments):
            phi = 2 * math.pi * j / segments
            vertices.append((math.sin(theta) * math.cos(phi), math.cos(theta), math.sin(theta) * math.sin(phi)))
    vertices.append((0.0, -1.0, 0.0))
    faces = []
    ring = lambda i, j: 1 + (i - 1) * segments + j % segments
    for j in range(segments):
        faces.append((0, ring(1, j + 1), ring(1, j)))
        faces.append((len(vertices) - 1, ring(rings - 1, j), ring(rings - 1, j + 1)))
    for i in range(1, rings - 1):
        for j in range(segments):
            a, b, c, d = ring(i, j), ring(i, j + 1), ring(i + 1, j + 1), ring(i + 1, j)
            faces += [(a, b, c), (a, c, d)]
    with open(path, "w") as out:
        out.write("ply\nformat ascii 1.0\nelement vertex %d\nproperty float x\nproperty float y\n"
                  "property float z\nelement face %d\nproperty list uchar int vertex_indices\nend_header\n"
                  % (len(vertices), len(faces)))
        out.writelines("%f %f %f\n" % v for v in vertices)
        out.writelines("3 %d %d %d\n" % f for f in faces)


def xdotool(*args):
    return subprocess.run(["xdotool", *args], capture_output=True, text=True).stdout.strip()


def screenshot(window):
    """The window's pixels as (width, height, bytes of RGB)."""
    data = subprocess.run(["import", "-window", window, "-depth", "8", "ppm:-"], capture_output=True, check=True).stdout
    fields, position = [], 0
    while len(fields) < 4:
        while data[position:position + 1].isspace():
            position += 1
        if data[position:position + 1] == b"#":
            position = data.index(b"\n", position)
            continue
        end = position
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[position:end])
        position = end
    width, height = int(fields[1]), int(fields[2])
    return width, height, data[position + 1:]


def view_pixels(shot):
    """The view's pixels (between menu bar and status bar) as a list of RGB."""
    width, height, pixels = shot
    rows = range(MENU_HEIGHT, height - STATUS_HEIGHT)
    return [tuple(pixels[3 * (y * width + x):3 * (y * width + x) + 3]) for y in rows for x in range(width)]


def coverage(shot):
    """The share of the view that is not the white background."""
    pixels = view_pixels(shot)
    return sum(1 for p in pixels if min(p) < 235) / len(pixels)


class EditorCase(unittest.TestCase):
    """Starts the editor on a scene converted from a generated sphere."""
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="vermelle_editor_")
        ply = os.path.join(cls.folder, "sphere.ply")
        write_sphere_ply(ply)
        cls.model = os.path.join(cls.folder, "sphere.qxz")
        subprocess.run([QXTOOL, "convert", ply, "-o", cls.model], check=True, capture_output=True)

    def start(self, *arguments, settings=""):
        self.settings = os.path.join(self.folder, "vermelle.ini")
        with open(self.settings, "w") as out:
            out.write(settings)
        env = dict(os.environ, VERMELLE_INI=self.settings)
        self.errors = os.path.join(self.folder, "stderr.txt")
        with open(self.errors, "w") as errors:
            self.process = subprocess.Popen([VERMELLE, *arguments], env=env, stdout=subprocess.DEVNULL, stderr=errors)
        self.addCleanup(self.stop)
        for _ in range(100):
            # The top-level window is the one with a title (the view inside
            # it is a window of its own).
            found = xdotool("search", "--onlyvisible", "--pid", str(self.process.pid)).splitlines()
            named = [window for window in found if xdotool("getwindowname", window)]
            if named:
                self.window = named[0]
                xdotool("windowfocus", "--sync", self.window)
                return
            time.sleep(0.1)
        self.fail("the window did not appear (exit status %s): %s" % (self.process.poll(), open(self.errors).read()))

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()

    def settle(self, predicate=lambda shot: True, tries=50):
        """Screenshots until `predicate` holds (the window draws on its timer)."""
        for _ in range(tries):
            time.sleep(0.1)
            shot = screenshot(self.window)
            if predicate(shot):
                return shot
        return shot

    def key(self, keys):
        xdotool("key", "--window", self.window, keys)



class EditorWindow(EditorCase):
    def test_model_draw_modes_drag_and_new(self):
        self.start(self.model)
        solid = self.settle(lambda shot: coverage(shot) > 0.05)
        self.assertEqual(xdotool("getwindowname", self.window), self.model)
        self.assertTrue(0.05 < coverage(solid) < 0.9, coverage(solid))

        self.key("alt+2")  # the table binds Alt+2 to Edges
        edges = self.settle(lambda shot: coverage(shot) < coverage(solid) * 0.9)
        self.assertLess(coverage(edges), coverage(solid) * 0.9)
        self.key("alt+3")  # ... and Alt+3 to Points
        points = self.settle(lambda shot: coverage(shot) < coverage(edges) * 0.9)
        self.assertLess(coverage(points), coverage(edges) * 0.9)
        self.assertIn("DrawMode=6912", open(self.settings).read())

        self.key("alt+1")
        before = self.settle(lambda shot: abs(coverage(shot) - coverage(solid)) < 0.02)
        width, height = before[0], before[1]
        xdotool("mousemove", "--window", self.window, str(width // 2), str(height // 2))
        xdotool("mousedown", "1")
        for step in range(1, 8):
            xdotool("mousemove", "--window", self.window, str(width // 2 + 12 * step), str(height // 2 + 4 * step))
        xdotool("mouseup", "1")
        dragged = self.settle(lambda shot: view_pixels(shot) != view_pixels(before))
        self.assertNotEqual(view_pixels(dragged), view_pixels(before))

        self.key("ctrl+n")
        empty = self.settle(lambda shot: coverage(shot) < 0.02)
        self.assertLess(coverage(empty), 0.02)
        self.assertEqual(xdotool("getwindowname", self.window), "GLQX")

        self.key("alt+f")  # the File menu, then E&xit
        self.key("x")
        self.assertEqual(self.process.wait(timeout=10), 0)

    def test_open_at_an_emulated_rate_refines_the_picture(self):
        # The file chooser starts at the dialog's stored file: Return opens it.
        self.start(settings="[DlgLoadQX]\nEmulateModem=1\nSpeedModem=10\nDefaultFile=%s\n" % self.model)
        self.key("ctrl+o")
        time.sleep(1)
        xdotool("key", "Return")
        early = self.settle(lambda shot: coverage(shot) > 0.01)
        final = self.settle(lambda shot: coverage(shot) > coverage(early) + 0.02, tries=150)
        self.assertGreater(coverage(final), coverage(early))
        self.assertEqual(xdotool("getwindowname", self.window), self.model)


class Dialogs(EditorCase):
    """Each dialog opens from its command; Escape changes nothing, OK saves."""

    def wait_for_window(self, title, present=True):
        for _ in range(50):
            if bool(xdotool("search", "--onlyvisible", "--name", "^%s$" % title)) == present:
                return True
            time.sleep(0.1)
        return False

    def test_dialogs_open_and_escape_leaves_the_settings_alone(self):
        model = os.path.join(self.folder, "dialogs.qxz")
        with open(self.model, "rb") as source, open(model, "wb") as copy:
            copy.write(source.read())
        self.start(model)
        self.settle(lambda shot: coverage(shot) > 0.05)
        settings = None
        # The occlusion dialog has no key: the Scene menu's seventh item.
        scene_menu = ["mousemove", "--window", self.window, "172", "12", "click", "1", "sleep", "0.3"] + \
            ["key", "Down"] * 7 + ["key", "Return"]
        for keys, title in (("ctrl+o", "Load QX"), ("ctrl+alt+p", "Import Ply file"),
                            ("alt+slash", "About Trevalis Representation"), ("ctrl+s", "Save QX"),
                            (scene_menu, "Find Occluded Parts")):
            xdotool("windowfocus", "--sync", self.window)
            if isinstance(keys, list):
                xdotool(*keys)
            else:
                self.key(keys)
            self.assertTrue(self.wait_for_window(title), title)
            xdotool("key", "Escape")
            self.assertTrue(self.wait_for_window(title, present=False), title)
            time.sleep(0.2)
            current = open(self.settings).read()
            settings = settings or current
            self.assertEqual(current, settings, title)
        self.assertNotIn("DlgSaveQX", settings)

        xdotool("windowfocus", "--sync", self.window)
        self.key("ctrl+s")
        self.assertTrue(self.wait_for_window("Save QX"))
        xdotool("key", "Return")
        self.assertTrue(self.wait_for_window("Save QX", present=False))
        for _ in range(50):
            if os.path.exists(os.path.join(self.folder, "dialogs.htm")):
                break
            time.sleep(0.1)
        self.assertTrue(os.path.exists(os.path.join(self.folder, "dialogs.htm")))
        self.assertIn("[DlgSaveQX]", open(self.settings).read())


def read_ppm(path):
    with open(path, "rb") as image:
        data = image.read()
    header = data.split(b"\n", 4)
    width, height = (int(value) for value in header[2].split())
    return width, height, header[4]


def ppm_coverage(path):
    width, height, pixels = read_ppm(path)
    covered = sum(1 for i in range(0, len(pixels), 3) if min(pixels[i:i + 3]) < 235)
    return covered / (width * height)


class Batch(unittest.TestCase):
    """The command line's batch, with and without a display."""

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="vermelle_batch_")
        for name in ("One.ply", "two.PLY"):
            write_sphere_ply(os.path.join(self.folder, name), rings=8, segments=12)
        self.settings = os.path.join(self.folder, "vermelle.ini")

    def run_vermelle(self, *arguments, display=True):
        env = dict(os.environ, VERMELLE_INI=self.settings)
        if not display:
            env.pop("DISPLAY", None)
        return subprocess.run([VERMELLE, *arguments], env=env, capture_output=True, text=True, timeout=120)

    def check_outputs(self, names):
        for name in names:
            base = os.path.join(self.folder, name)
            width, height, _ = read_ppm(base + ".ppm")
            self.assertEqual((width, height), (320, 240))
            self.assertTrue(0.05 < ppm_coverage(base + ".ppm") < 0.9)
            self.assertTrue(os.path.getsize(base + ".qxz") > 0)

    def test_without_a_display_every_file_is_rotated_captured_and_saved(self):
        pattern = os.path.join(self.folder, "*.ply")
        done = self.run_vermelle("-w", "320", "-h", "240", "-rx", "-ppm", "-s", pattern, display=False)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.check_outputs(["One", "two"])
        self.assertIn("two.PLY: save done", done.stderr)
        # The same picture as the command-line renderer draws at that size.
        subprocess.run([QXTOOL, "render", os.path.join(self.folder, "two.qxz"), "-o",
                        os.path.join(self.folder, "render.ppm"), "--width", "320", "--height", "240"], check=True)
        self.assertAlmostEqual(ppm_coverage(os.path.join(self.folder, "two.ppm")),
                               ppm_coverage(os.path.join(self.folder, "render.ppm")), delta=0.03)

    def test_without_a_display_help_goes_to_standard_output_and_failures_exit_1(self):
        done = self.run_vermelle("-?", "-ppm", os.path.join(self.folder, "missing.ply"), display=False)
        self.assertIn("\t-rx   \tRotate 90\u00ba X\n", done.stdout)
        self.assertEqual(done.returncode, 1)
        self.assertEqual(self.run_vermelle(display=False).returncode, 1)

    def test_with_a_display_the_window_runs_the_batch_and_quits(self):
        done = self.run_vermelle("-w", "320", "-h", "240", "-ppm", "-s", "-q", os.path.join(self.folder, "*.ply"))
        self.assertEqual(done.returncode, 0, done.stderr)
        self.check_outputs(["One", "two"])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
