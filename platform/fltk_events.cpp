#include "platform/fltk_events.h"

#include <FL/Fl.H>
#include <FL/Fl_Widget.H>
#include <FL/Fl_Window.H>

#include <cstdlib>
#include <optional>

#include "platform/gl_surface.h"
#include "view/gl_window.h"

namespace qx {
namespace {

std::optional<MouseMessage> ButtonMessage(int event) {
  const bool down = event == FL_PUSH;
  switch (Fl::event_button()) {
    case FL_LEFT_MOUSE: return down ? MouseMessage::kLeftDown : MouseMessage::kLeftUp;
    case FL_RIGHT_MOUSE: return down ? MouseMessage::kRightDown : MouseMessage::kRightUp;
    case FL_MIDDLE_MOUSE: return down ? MouseMessage::kMiddleDown : MouseMessage::kMiddleUp;
    default: return std::nullopt;
  }
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string DecodePercentEscapes(std::string_view text) {
  std::string decoded;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
      decoded += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
      i += 2;
    } else {
      decoded += text[i];
    }
  }
  return decoded;
}

// Coordinates of the pointer relative to `widget`.
int LocalX(Fl_Widget& widget) { return Fl::event_x() - (widget.as_window() ? 0 : widget.x()); }
int LocalY(Fl_Widget& widget) { return Fl::event_y() - (widget.as_window() ? 0 : widget.y()); }

int DeliverKey(Fl_Widget& widget, GLWindow& view, int event, const AcceleratorFilter& accelerators) {
  if (event == FL_KEYDOWN && accelerators && accelerators()) return 1;
  view.MakeCurrent();
  if (event == FL_KEYUP) {
    view.OnKeyUp(Fl::event_key(), Fl::event_state());
    return 1;
  }
  view.OnKeyDown(Fl::event_key(), Fl::event_state());
  if (Fl::event_length() > 0) view.OnChar(static_cast<unsigned char>(Fl::event_text()[0]), LocalX(widget), LocalY(widget));
  // Keys the view does not use travel on (to the menu bar's shortcuts).
  return 0;
}

}  // namespace

int DeliverViewEvent(Fl_Widget& widget, GLWindow& view, int event, const AcceleratorFilter& accelerators) {
  switch (event) {
    case FL_PUSH:
    case FL_RELEASE:
      if (event == FL_PUSH) Fl::focus(&widget);
      if (const std::optional<MouseMessage> message = ButtonMessage(event)) {
        view.MakeCurrent();
        view.OnMouseButton(*message, LocalX(widget), LocalY(widget));
      }
      return 1;
    case FL_DRAG:
    case FL_MOVE:
      view.MakeCurrent();
      view.OnMouseMove(LocalX(widget), LocalY(widget));
      return 1;
    case FL_MOUSEWHEEL:
      view.MakeCurrent();
      // FLTK counts notches towards the user as positive; the view takes a
      // positive delta for the wheel turned away (zoom in).
      view.OnWheel(LocalX(widget), LocalY(widget), -Fl::event_dy());
      return 1;
    case FL_KEYDOWN:
    case FL_KEYUP: return DeliverKey(widget, view, event, accelerators);
    case FL_FOCUS:
    case FL_UNFOCUS:
      view.Invalidate();
      return 1;
    case FL_ENTER:
    case FL_LEAVE:
    case FL_DND_ENTER:
    case FL_DND_DRAG:
    case FL_DND_LEAVE:
    case FL_DND_RELEASE: return 1;
    case FL_PASTE:
      view.MakeCurrent();
      view.OnDropFiles(ParseDroppedFiles(Fl::event_text() ? Fl::event_text() : ""));
      return 1;
    default: return 0;
  }
}

void ViewTimer::Start(int periodMs, std::function<void()> tick) {
  Stop();
  period_ = periodMs / 1000.0;
  tick_ = std::move(tick);
  Fl::add_timeout(period_, Tick, this);
}

void ViewTimer::Stop() { Fl::remove_timeout(Tick, this); }

void ViewTimer::Tick(void* data) {
  auto* self = static_cast<ViewTimer*>(data);
  Fl::repeat_timeout(self->period_, Tick, data);
  self->tick_();
}

void ViewWidget::StartTicks(int periodMs) {
  timer_.Start(periodMs, [this] {
    if (view_) view_->OnTimer();
  });
}

bool ViewKeyHeld(const Fl_Widget& widget, HostKey key) {
  switch (key) {
    case HostKey::kShift: return Fl::event_state(FL_SHIFT) != 0;
    case HostKey::kControl: return Fl::event_state(FL_CTRL) != 0;
    case HostKey::kAlt: return Fl::event_state(FL_ALT) != 0;
    default: break;
  }
  const Fl_Widget* focus = Fl::focus();
  if (!focus || focus->top_window() != widget.top_window()) return false;
  switch (key) {
    case HostKey::kUp: return Fl::get_key(FL_Up);
    case HostKey::kDown: return Fl::get_key(FL_Down);
    case HostKey::kLeft: return Fl::get_key(FL_Left);
    case HostKey::kRight: return Fl::get_key(FL_Right);
    case HostKey::kA: return Fl::get_key('a');
    case HostKey::kZ: return Fl::get_key('z');
    case HostKey::kEscape: return Fl::get_key(FL_Escape);
    case HostKey::kSpace: return Fl::get_key(' ');
    default: return false;
  }
}

std::vector<std::string> ParseDroppedFiles(std::string_view text) {
  std::vector<std::string> files;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
    if (line.empty()) continue;
    constexpr std::string_view kFileScheme = "file://";
    if (line.starts_with(kFileScheme)) {
      line.remove_prefix(kFileScheme.size());
      // "file://host/path": only local files are opened.
      const size_t slash = line.find('/');
      if (slash == std::string_view::npos || (slash != 0 && line.substr(0, slash) != "localhost")) continue;
      files.push_back(DecodePercentEscapes(line.substr(slash)));
    } else if (line.find("://") == std::string_view::npos) {
      files.emplace_back(line);
    }
  }
  return files;
}

}  // namespace qx
