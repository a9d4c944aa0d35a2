// The window procedure of the editor's view on FLTK: one FLTK event becomes a
// call of the view's operations (mouse buttons, moves, wheel, keys, focus,
// dropped files), with the rendering context made current where the view
// draws. Shared by the hardware and the software view widgets.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

class Fl_Widget;

namespace qx {

class GLWindow;
enum class HostKey;

// The view's periodic tick on the FLTK event loop.
class ViewTimer {
 public:
  ViewTimer() = default;
  ViewTimer(const ViewTimer&) = delete;
  ViewTimer& operator=(const ViewTimer&) = delete;
  ~ViewTimer() { Stop(); }
  // Calls `tick` every `periodMs` milliseconds until Stop (restarts a
  // running timer).
  void Start(int periodMs, std::function<void()> tick);
  void Stop();

 private:
  static void Tick(void* data);
  double period_ = 0;
  std::function<void()> tick_;
};

// Offered every key press before the view sees it: the window's accelerator
// table. Returns true when the key ran a command.
using AcceleratorFilter = std::function<bool()>;

// Handles `event` for `view` shown in `widget`; returns 1 when it was used.
int DeliverViewEvent(Fl_Widget& widget, GLWindow& view, int event, const AcceleratorFilter& accelerators);

// What both view widgets (hardware and software) hold: the view their events
// go to, the window's accelerators offered every key first, and the view's
// 40 ms tick.
class ViewWidget {
 public:
  virtual ~ViewWidget() = default;
  // The view the events go to (none: events are ignored).
  void SetView(GLWindow* view) { view_ = view; }
  void SetAccelerators(AcceleratorFilter accelerators) { accelerators_ = std::move(accelerators); }

 protected:
  int Deliver(Fl_Widget& widget, int event) {
    return view_ ? DeliverViewEvent(widget, *view_, event, accelerators_) : 0;
  }
  void StartTicks(int periodMs);
  void StopTicks() { timer_.Stop(); }

  GLWindow* view_ = nullptr;

 private:
  AcceleratorFilter accelerators_;
  ViewTimer timer_;
};

// Whether `key` is held now. Modifier keys as of the event being handled;
// the others as the keyboard is now, and only while `widget`'s window has
// the focus (the fly-through must not react to keys typed elsewhere).
bool ViewKeyHeld(const Fl_Widget& widget, HostKey key);

// The files of a drop: one per line, as "file://" addresses (with %XX
// escapes) or plain paths; blank lines and other addresses are skipped.
std::vector<std::string> ParseDroppedFiles(std::string_view text);

}  // namespace qx
