// The frame of the program's fixed-size windows: the options dialog and the info window.
//
// Both windows have a frame that cannot be resized, minimised or maximised. Their window flags
// tell the window manager so (the Motif hints and the size hints that Qt writes from them), but
// a window manager may still offer a minimise or maximise box of its own accord. A modal window
// that the window manager hid that way could not be reached again (the tray icon ignores input
// while the dialog is shown), so `KeepFixedFrame` turns such a state change back into the
// normal state. `CentreOnScreen` places a window in the middle of its screen's free area.
#pragma once

class QEvent;
class QWidget;

namespace kairelon {

// Moves `window` so that its frame is centred on the available area of its screen.
void CentreOnScreen(QWidget& window);

// Call from the window's changeEvent: a change to minimised, maximised or full screen is
// undone (once the event has been handled) so the window stays as it is.
void KeepFixedFrame(QWidget& window, const QEvent* event);

} // namespace kairelon
