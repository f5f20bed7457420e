#!/usr/bin/python3
"""What scripts/desktop-test.sh asks of the X server about a program's windows.

  xwindows.py tray-icon PID      centre "X Y" of the program's icon docked in the tray
  xwindows.py balloons PID       how many balloons (tool-tip windows) of the program show
  xwindows.py balloon-watch PID  "watching" once it looks, then "shown MS" (the
                                 clock's milliseconds) as soon as a balloon of
                                 the program shows, however briefly
  xwindows.py menu PID           "X Y W H" of the program's open popup menu, or nothing
  xwindows.py context-help WIN   what the window manager sends when the frame's
                                 context-help button is clicked; fails when the
                                 window did not ask for that button
  xwindows.py wm-sync            returns once the window manager has dealt with
                                 every request made before, such as a window
                                 asked to be shown; fails after 10 s without

PID is the process id (_NET_WM_PID), WIN a window id as xdotool prints it.
"""

import select
import sys
import time

from Xlib import X, display
from Xlib.protocol import event


def windows_of(dpy, pid):
    """Every window below the root whose _NET_WM_PID is `pid`."""
    pid_atom = dpy.intern_atom("_NET_WM_PID")
    found = []
    pending = [dpy.screen().root]
    while pending:
        window = pending.pop()
        try:
            children = window.query_tree().children
            prop = window.get_full_property(pid_atom, X.AnyPropertyType)
        except Exception:  # gone meanwhile
            continue
        if prop is not None and len(prop.value) and prop.value[0] == pid:
            found.append(window)
        pending.extend(children)
    return found


def viewable(window):
    try:
        return window.get_attributes().map_state == X.IsViewable
    except Exception:
        return False


def window_type(dpy, window):
    prop = window.get_full_property(dpy.intern_atom("_NET_WM_WINDOW_TYPE"), X.AnyPropertyType)
    return [dpy.get_atom_name(atom) for atom in prop.value] if prop else []


def in_tray(dpy, window):
    """True when an ancestor of `window` is the tray host (trayer)."""
    root = dpy.screen().root
    parent = window.query_tree().parent
    while parent and parent.id != root.id:
        wm_class = parent.get_wm_class()
        if wm_class and "trayer" in wm_class:
            return True
        parent = parent.query_tree().parent
    return False


def centre(dpy, window):
    geometry = window.get_geometry()
    at = window.translate_coords(dpy.screen().root, 0, 0)
    return -at.x + geometry.width // 2, -at.y + geometry.height // 2


def tray_icon(dpy, pid):
    for window in windows_of(dpy, pid):
        if viewable(window) and in_tray(dpy, window):
            x, y = centre(dpy, window)
            print(x, y)
            return 0
    return 1


def balloons(dpy, pid):
    shown = [w for w in windows_of(dpy, pid)
             if viewable(w) and "_NET_WM_WINDOW_TYPE_TOOLTIP" in window_type(dpy, w)]
    print(len(shown))
    return 0


def balloon_watch(dpy, pid):
    """Told of every window mapped on the screen, so that a balloon that shows
    for a moment between two looks is seen all the same."""
    root = dpy.screen().root
    root.change_attributes(event_mask=X.SubstructureNotifyMask)
    dpy.sync()
    print("watching", flush=True)
    while True:
        mapped = dpy.next_event()
        if mapped.type != X.MapNotify:
            continue
        try:
            prop = mapped.window.get_full_property(dpy.intern_atom("_NET_WM_PID"), X.AnyPropertyType)
            balloon = (prop is not None and len(prop.value) and prop.value[0] == pid
                       and "_NET_WM_WINDOW_TYPE_TOOLTIP" in window_type(dpy, mapped.window))
        except Exception:  # gone meanwhile
            continue
        if balloon:
            print("shown", time.time_ns() // 1000000, flush=True)
            return 0


def menu(dpy, pid):
    """A popup menu: a window that bypasses the window manager, neither the
    docked icon nor a balloon."""
    for window in windows_of(dpy, pid):
        if (viewable(window) and window.get_attributes().override_redirect and not in_tray(dpy, window)
                and "_NET_WM_WINDOW_TYPE_TOOLTIP" not in window_type(dpy, window)):
            geometry = window.get_geometry()
            at = window.translate_coords(dpy.screen().root, 0, 0)
            print(-at.x, -at.y, geometry.width, geometry.height)
            return 0
    return 0


def context_help(dpy, window_id):
    window = dpy.create_resource_object("window", window_id)
    protocols_atom = dpy.intern_atom("WM_PROTOCOLS")
    help_atom = dpy.intern_atom("_NET_WM_CONTEXT_HELP")
    protocols = window.get_full_property(protocols_atom, X.AnyPropertyType)
    if protocols is None or help_atom not in protocols.value:
        print("the window did not ask for a context-help button", file=sys.stderr)
        return 1
    message = event.ClientMessage(window=window, client_type=protocols_atom,
                                  data=(32, [help_atom, X.CurrentTime, 0, 0, 0]))
    window.send_event(message, event_mask=X.NoEventMask)
    dpy.sync()
    return 0


def wm_sync(dpy):
    """The window manager answers _NET_REQUEST_FRAME_EXTENTS for a window of
    ours by setting _NET_FRAME_EXTENTS on it; it handles its events in turn,
    so a window another program asked to show before is shown by then."""
    root = dpy.screen().root
    window = root.create_window(0, 0, 1, 1, 0, X.CopyFromParent, event_mask=X.PropertyChangeMask)
    extents = dpy.intern_atom("_NET_FRAME_EXTENTS")
    request = event.ClientMessage(window=window, client_type=dpy.intern_atom("_NET_REQUEST_FRAME_EXTENTS"),
                                  data=(32, [0, 0, 0, 0, 0]))
    root.send_event(request, event_mask=X.SubstructureRedirectMask | X.SubstructureNotifyMask)
    dpy.flush()
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        if not dpy.pending_events() and not select.select([dpy], [], [], deadline - time.monotonic())[0]:
            break
        answer = dpy.next_event()
        if answer.type == X.PropertyNotify and answer.atom == extents:
            return 0
    print("the window manager did not answer within 10 s", file=sys.stderr)
    return 1


def main(argv):
    with_argument = {"tray-icon": tray_icon, "balloons": balloons, "balloon-watch": balloon_watch, "menu": menu,
                   "context-help": context_help}
    if len(argv) == 2 and argv[1] == "wm-sync":
        return wm_sync(display.Display())
    if len(argv) != 3 or argv[1] not in with_argument:
        print(__doc__, file=sys.stderr)
        return 2
    return with_argument[argv[1]](display.Display(), int(argv[2], 0))


if __name__ == "__main__":
    sys.exit(main(sys.argv))
